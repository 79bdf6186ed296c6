#include "ThreadPriority.h"

#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <initializer_list>

namespace kivo::web {

namespace {

// Enough for the event thread to keep most of a processor that a busy server
// thread shares with it; any user may raise a thread's nice value.
constexpr int kServingNice = 10;

}  // namespace

sigset_t stop_signals() {
  sigset_t signals;
  sigemptyset(&signals);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&signals, signal);
  return signals;
}

void become_serving_thread() {
  const sigset_t blocked = stop_signals();
  pthread_sigmask(SIG_BLOCK, &blocked, nullptr);
  yield_to_event_processing();
}

void yield_to_event_processing() {
  const int current = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
  if (current < kServingNice) setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kServingNice);
}

}  // namespace kivo::web
