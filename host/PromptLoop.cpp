#include "PromptLoop.h"

#include <poll.h>
#include <unistd.h>

#include <string>

#include "Interrupt.h"
#include "Prompt.h"
#include "TemporaryFiles.h"

namespace kivo::host {

namespace {

constexpr int kSliceMs = 20;
constexpr int kFollowPollMs = 50;

// Processes one slice of events in the background, keeping the prompt line
// off the screen while the monitor may print. True when it processed any or
// stopped in data that is already there.
bool background_slice(Session& session, interp::Prompt& prompt, bool& announced_end) {
  if (!session.background()) return false;
  std::uint64_t processed = session.process_slice(kSliceMs, [&prompt] { prompt.hide(); });
  if (processed > 0) announced_end = false;
  if (!announced_end && session.sources().exhausted()) {
    prompt.hide();
    report("all sources read (" + std::to_string(session.sources().events_read()) + " events)");
    announced_end = true;
  }
  prompt.show();
  return processed > 0 || session.sources().more_available();
}

// The shorter of two waits in ms, -1 standing for no limit.
int shorter_wait(int a, int b) {
  if (a < 0) return b;
  if (b < 0) return a;
  return a < b ? a : b;
}

// How long to wait for input: not at all while events flow, a little while a
// source waits for data that cannot be polled, else until something happens
// or a canvas refresh falls due.
int wait_timeout(Session& session, bool busy) {
  if (busy) return 0;
  int wait = -1;
  if (session.background() && !session.sources().exhausted() && session.sources().poll_fd() < 0)
    wait = kFollowPollMs;
  return shorter_wait(shorter_wait(wait, session.refresh_wait_ms()), session.display_wait_ms());
}

}  // namespace

bool run_prompt(Session& session, const interp::Registry& registry) {
  session.reserve_standard_input();
  // The line editor turns echo off while it reads; a signal that ends kivo
  // puts the terminal back as it was.
  eventio::restore_terminal_on_signals(0);
  bool interrupted = false;  // by Ctrl-C, in a line or between lines
  const bool terminal = isatty(STDIN_FILENO) != 0;
  interp::Prompt prompt("kivo> ", interp::default_history_path(), registry,
                        [&session, &interrupted, terminal](std::optional<std::string> line) {
                          if (line) {
                            session.execute(*line, "input");
                            interrupted = session.interrupted();
                          } else {
                            session.request_quit();
                          }
                          return !session.quit_requested() && !(interrupted && !terminal);
                        });
  bool announced_end = true;
  while (!session.quit_requested() && !termination_requested()) {
    if (take_interrupt()) {
      interrupted = true;
      prompt.discard_line();
    }
    if (interrupted && !terminal) {
      report("interrupted: the commands come from no terminal, kivo ends");
      return false;
    }
    interrupted = false;
    bool busy = background_slice(session, prompt, announced_end);
    session.serve_display();
    // The prompt line leaves the screen while the checks that follow a
    // redraw may report.
    session.refresh_if_due([&prompt] { prompt.hide(); });
    prompt.show();
    // A descriptor of -1 is left out by poll().
    pollfd fds[5] = {{prompt.fd(), POLLIN, 0},
                     {session.display_fd(), POLLIN, 0},
                     {session.background() ? session.sources().poll_fd() : -1, POLLIN, 0},
                     {interrupt_fd(), POLLIN, 0},
                     {session.objects_fd(), POLLIN, 0}};
    if (poll(fds, 5, wait_timeout(session, busy)) > 0) {
      if (fds[3].revents & POLLIN) drain_interrupt_fd();
      if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) prompt.read_available();
    }
  }
  return true;
}

}  // namespace kivo::host
