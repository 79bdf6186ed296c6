// The threads that serve clients leave the signals that stop kivo to the
// thread that processes events, which handles them, and yield the processor
// to it: on a machine of few cores, a crowd of clients then slows the
// answers, not ingestion.
#ifndef KIVO_HOST_WEB_THREAD_PRIORITY_H
#define KIVO_HOST_WEB_THREAD_PRIORITY_H

#include <pthread.h>
#include <signal.h>

namespace kivo::web {

// SIGINT, SIGTERM and SIGHUP: the signals that end or interrupt kivo.
sigset_t stop_signals();

// Calls `start`, which starts threads, with the stop signals blocked on the
// calling thread: the threads it starts inherit the block from their first
// instruction, so the signals always reach the thread that handles them.
template <class Start>
auto with_stop_signals_blocked(Start&& start) {
  const sigset_t blocked = stop_signals();
  sigset_t previous;
  pthread_sigmask(SIG_BLOCK, &blocked, &previous);
  auto started = start();
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return started;
}

// Lowers the calling thread's scheduling priority (raises its nice value);
// best effort: a system that refuses leaves it as it is.
void yield_to_event_processing();

// Blocks the stop signals in the calling thread and yields the processor.
void become_serving_thread();

}  // namespace kivo::web

#endif
