// Stand-in definitions of the monitor header's nine commands, so that the
// generated dictionary can be loaded without the monitor. Each int command
// returns its threshold times ten, which shows which default was applied.
#include "kivo.h"

int probe_verbose = 0;
int probe_refresh = 0;

int process_event(Event*) { return 0; }
int process_histos(float thresh) { return static_cast<int>(thresh * 10); }
int mask_pixels(float thresh) { return static_cast<int>(thresh * 10); }
int analysis() { return 1; }
int OM() { return 2; }
int print_status() { return 3; }
void reset_histos() {}
void set_verbose(int v) { probe_verbose = v; }
void set_refresh(int r) { probe_refresh = r; }
