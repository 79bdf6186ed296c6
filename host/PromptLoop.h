// The interactive loop: one thread polls standard input and the event
// source; events are processed in slices in the background while the
// operator types, and each complete line runs between two events.
#ifndef KIVO_HOST_PROMPT_LOOP_H
#define KIVO_HOST_PROMPT_LOOP_H

#include "Registry.h"
#include "Session.h"

namespace kivo::host {

// Returns when the operator quits (.q or Ctrl-D): true then. Ctrl-C drops
// the line being typed at a terminal; when the commands come from a pipe or
// a file, where no line is being typed, it ends the prompt as it ends a
// batch run: false then.
bool run_prompt(Session& session, const interp::Registry& registry);

}  // namespace kivo::host

#endif
