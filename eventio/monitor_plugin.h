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

// Live view of the hit maps, for the host's display and quality checks. All
// of them run on the thread that processes events, between two events, and
// read the maps without changing what any monitor command shows.
//
// The normalised maps (h2d_chip_norm) are read as the last analysis left
// them: 9216 x 512 bins, x = stave-wide column, y = displayed row.
// kOverviewBinsX x kOverviewBinsY blocks of kOverviewBlockX x kOverviewBlockY
// bins each cover every in-range bin of a map.
inline constexpr int kOverviewBlockX = 18;
inline constexpr int kOverviewBlockY = 4;
inline constexpr int kOverviewBinsX = 9216 / kOverviewBlockX;
inline constexpr int kOverviewBinsY = 512 / kOverviewBlockY;

extern "C" {

// The largest normalised content of each block of stave `stave`'s map, into
// `out` (kOverviewBinsX * kOverviewBinsY values, block (bx, by) at
// out[by * kOverviewBinsX + bx], bx and by from 0). Returns 0, or -1 for a
// stave out of range or before the first analysis.
int kivo_norm_overview(int stave, float* out);

// The normalised contents of bins first_x..last_x, first_y..last_y (ROOT bin
// numbers, 1-based, in range) of stave `stave`'s map, into `out` row by row
// from first_y: out[(y - first_y) * (last_x - first_x + 1) + (x - first_x)].
// Returns 0, or -1 for a stave or bins out of range or before the first
// analysis.
int kivo_norm_region(int stave, int first_x, int last_x, int first_y, int last_y, float* out);

// Makes h2d_chip_norm hold every bin as the last analysis computed it, for
// readers of the whole maps (saving, full-resolution views).
void kivo_materialise_maps();

// Hits on chip `chip` (0..8) of stave `stave` counted in the raw map
// (h2d_chip) since its last reset, in-range bins only; -1 when out of range
// or not booked.
double kivo_chip_hits(int stave, int chip);

// The in-range bins of stave `stave`'s raw map whose content is greater than
// `threshold`, ordered by y bin, then x bin: at most `capacity` of them stored
// in xbins/ybins (ROOT bin numbers). Returns how many there are in all, or -1
// when out of range or not booked.
int kivo_cells_above(int stave, double threshold, int* xbins, int* ybins, int capacity);

}

#endif
