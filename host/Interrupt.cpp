#include "Interrupt.h"

#include <csignal>

namespace kivo::host {

namespace {

volatile std::sig_atomic_t interrupted = 0;

void on_interrupt(int) { interrupted = 1; }

}  // namespace

void install_interrupt_handler() {
  struct sigaction action {};
  action.sa_handler = on_interrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a blocked poll() returns at once
  sigaction(SIGINT, &action, nullptr);
}

bool interrupt_pending() { return interrupted != 0; }

bool take_interrupt() {
  bool was = interrupted != 0;
  interrupted = 0;
  return was;
}

}  // namespace kivo::host
