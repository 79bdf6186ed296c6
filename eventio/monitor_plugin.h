// Entry points that the kivo host resolves by name in a monitor plug-in
// (dlsym of their C++ symbols) and calls: pinit once before the first event,
// then process_event for every event.
#ifndef KIVO_EVENTIO_MONITOR_PLUGIN_H
#define KIVO_EVENTIO_MONITOR_PLUGIN_H

class Event;

int pinit();
int process_event(Event* e);

// Itanium C++ ABI names of the two entry points, for dlsym.
inline constexpr const char* kPinitSymbol = "_Z5pinitv";
inline constexpr const char* kProcessEventSymbol = "_Z13process_eventP5Event";

#endif
