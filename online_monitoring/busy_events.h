// Busy events: events whose hit count on a stave lies far above the run's
// distribution of hits per event on that stave (noise bursts). The monitor
// tells them apart while it fills the hits and keeps their hits per column
// and row beside the maps, so that the host's checks can leave them out
// without a pass over the maps; the maps themselves keep every hit.
#ifndef KIVO_MONITOR_BUSY_EVENTS_H
#define KIVO_MONITOR_BUSY_EVENTS_H

#include "monitor_state.h"

// Which staves of an event with `npixels` hits per stave are busy; counts
// the event into each stave's distribution of hits per event.
void classify_event(const int (&npixels)[NSTAVE], bool (&busy)[NSTAVE]);

// Counts `n` hits of chip `chip` of stave `stave` (decoded chip rows and
// columns) of a busy event into the stave's busy sums, the in-range ones
// (as the hit map takes them) per stave-wide column and displayed row.
void count_busy_hits(int stave, int chip, const int* irow, const int* icol, int n);

// Forgets the busy events and the distributions, as at a reset.
void clear_busy_events();

#endif
