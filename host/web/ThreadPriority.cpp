#include "ThreadPriority.h"

#include <sys/resource.h>
#include <unistd.h>

namespace kivo::web {

namespace {

// Enough for the event thread to keep most of a processor that a busy server
// thread shares with it; any user may raise a thread's nice value.
constexpr int kServingNice = 10;

}  // namespace

void yield_to_event_processing() {
  const int current = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
  if (current < kServingNice) setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kServingNice);
}

}  // namespace kivo::web
