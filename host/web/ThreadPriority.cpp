#include "ThreadPriority.h"

#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <initializer_list>

namespace kivo::web {

namespace {

// Above the main thread's (event processing's), enough for it to keep most
// of a processor that a busy server thread shares with it; any user may
// raise a thread's nice value. A kivo started under `nice` keeps the step.
constexpr int kServingNiceStep = 10;
constexpr int kHighestNice = 19;

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
  // The main thread's id is the process's: its nice value, not the calling
  // thread's (a server thread may start another), is the one to stay above.
  const int main_thread = getpriority(PRIO_PROCESS, static_cast<id_t>(getpid()));
  const int serving = std::min(main_thread + kServingNiceStep, kHighestNice);
  const int current = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
  if (current < serving) setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), serving);
}

}  // namespace kivo::web
