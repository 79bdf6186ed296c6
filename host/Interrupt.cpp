#include "Interrupt.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "TemporaryFiles.h"

namespace kivo::host {

namespace {

volatile std::sig_atomic_t interrupted = 0;
volatile std::sig_atomic_t terminating = 0;
int wake_pipe[2] = {-1, -1};

// A byte for whoever polls interrupt_fd(): the handler may run on any
// thread, and a signal taken just before poll() would not interrupt it.
void wake() {
  if (wake_pipe[1] < 0) return;
  const int saved = errno;
  const char byte = 0;
  const ssize_t written = ::write(wake_pipe[1], &byte, 1);
  static_cast<void>(written);
  errno = saved;
}

void on_interrupt(int) {
  interrupted = 1;
  wake();
}

// Told at once (write() is safe in a handler), so that the operator and
// whoever sent the signal know it was taken.
void tell_taken(int signal) {
  const char* text = signal == SIGHUP
                         ? "kivo: SIGHUP: ending once the command or event under way is done (again: at once)\n"
                         : "kivo: SIGTERM: ending once the command or event under way is done (again: at once)\n";
  const ssize_t written = ::write(STDERR_FILENO, text, std::strlen(text));
  static_cast<void>(written);
}

void on_termination(int signal) {
  if (terminating != 0) {
    eventio::end_as_by_signal(signal);
    return;
  }
  terminating = signal;
  interrupted = 1;
  tell_taken(signal);
  wake();
}

// No SA_RESTART: a blocked poll() returns at once.
void handle(int signal, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;
  sigaction(signal, &action, nullptr);
}

}  // namespace

void install_interrupt_handler() {
  if (wake_pipe[0] < 0 && ::pipe2(wake_pipe, O_NONBLOCK | O_CLOEXEC) != 0) wake_pipe[0] = wake_pipe[1] = -1;
  handle(SIGINT, on_interrupt);
  for (int signal : {SIGTERM, SIGHUP}) {
    struct sigaction current {};
    // An ignored signal stays ignored, as nohup and background jobs expect.
    if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler != SIG_IGN) handle(signal, on_termination);
  }
}

bool interrupt_pending() { return interrupted != 0; }

int interrupt_fd() { return wake_pipe[0]; }

void drain_interrupt_fd() {
  char bytes[64];
  while (wake_pipe[0] >= 0 && ::read(wake_pipe[0], bytes, sizeof bytes) > 0) {
  }
}

bool take_interrupt() {
  bool was = interrupted != 0;
  interrupted = 0;
  return was;
}

int termination_requested() { return terminating; }

void end_by_requested_signal() {
  const int signal = terminating;
  std::signal(signal, SIG_DFL);
  sigset_t unblocked;
  sigemptyset(&unblocked);
  sigaddset(&unblocked, signal);
  pthread_sigmask(SIG_UNBLOCK, &unblocked, nullptr);
  std::raise(signal);
  std::_Exit(128 + signal);
}

}  // namespace kivo::host
