// Ctrl-C: the handler only raises a flag; processing loops look at it after
// each event, the prompt drops the line being typed.
//
// SIGTERM and SIGHUP (each unless ignored when kivo started): the first asks
// kivo to end as .q does, after the current event: the run in progress is
// archived and the files being written are finished; a second ends kivo at
// once, leaving no temporary file (see TemporaryFiles.h, whose handlers they
// replace: remove_partial_output_on_signals() is called first).
#ifndef KIVO_HOST_INTERRUPT_H
#define KIVO_HOST_INTERRUPT_H

namespace kivo::host {

void install_interrupt_handler();
bool interrupt_pending();
// Readable after any of these signals, on whichever thread took it: polled
// beside other descriptors, so that a wait never outlasts a signal taken
// just before it began; -1 when it could not be made.
int interrupt_fd();
// Empties interrupt_fd() once the flags have been looked at.
void drain_interrupt_fd();
// Returns whether an interrupt was pending and clears it.
bool take_interrupt();
// The signal (SIGTERM or SIGHUP) that asked kivo to end; 0 while none has.
int termination_requested();
// Ends kivo with the signal that asked it to end, as that signal's default
// action does, so that whoever started it sees it ended by the signal.
[[noreturn]] void end_by_requested_signal();

}  // namespace kivo::host

#endif
