// The threads that serve clients yield the processor to the thread that
// processes events: on a machine of few cores, a crowd of clients then slows
// the answers, not ingestion.
#ifndef KIVO_HOST_WEB_THREAD_PRIORITY_H
#define KIVO_HOST_WEB_THREAD_PRIORITY_H

namespace kivo::web {

// Lowers the calling thread's scheduling priority (raises its nice value);
// best effort: a system that refuses leaves it as it is.
void yield_to_event_processing();

}  // namespace kivo::web

#endif
