// Setters of the two run-time settings: plain stores, read by event processing.
#include "kivo.h"
#include "monitor_state.h"

void set_verbose(int v) { kivo_verbose = v; }

void set_refresh(int r) { kivo_refresh = r; }
