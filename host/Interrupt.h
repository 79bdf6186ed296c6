// Ctrl-C: the handler only raises a flag; processing loops look at it after
// each event, the prompt drops the line being typed.
#ifndef KIVO_HOST_INTERRUPT_H
#define KIVO_HOST_INTERRUPT_H

namespace kivo::host {

void install_interrupt_handler();
bool interrupt_pending();
// Returns whether an interrupt was pending and clears it.
bool take_interrupt();

}  // namespace kivo::host

#endif
