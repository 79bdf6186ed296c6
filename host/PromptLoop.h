// The interactive loop: one thread polls standard input and the event
// source; events are processed in slices in the background while the
// operator types, and each complete line runs between two events.
#ifndef KIVO_HOST_PROMPT_LOOP_H
#define KIVO_HOST_PROMPT_LOOP_H

#include "Registry.h"
#include "Session.h"

namespace kivo::host {

// Returns when the operator quits (.q or Ctrl-D).
void run_prompt(Session& session, const interp::Registry& registry);

}  // namespace kivo::host

#endif
