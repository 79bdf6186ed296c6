// The recent view of the hit maps: at the end of each window of data events
// with the detector packet, the hits each stave's raw map took in it, per
// overview block, as the difference of the block sums kept beside the map
// (hit_maps.h) at the window's two ends. Nothing per hit: two copies of the
// block sums per window, on the thread that processes events.
#ifndef KIVO_MONITOR_RECENT_MAPS_H
#define KIVO_MONITOR_RECENT_MAPS_H

// An event with the detector packet has been filled into the maps; at the
// end of a window its hits are taken.
void count_recent_event();

// The raw maps were emptied (booked or reset): the windows start again
// from no event.
void restart_recent_windows();

#endif
