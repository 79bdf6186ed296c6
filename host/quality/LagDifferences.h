// The stave correlations in a window: the differences of one stave's mean
// positions per event against a reference stave's at each lag, the share of
// their entries near the peak at each lag, and whether one lag's peak stands
// out from the others. The synchronisation check compares the lags, the
// alignment check places the peak of lag 0.
#ifndef KIVO_HOST_QUALITY_LAG_DIFFERENCES_H
#define KIVO_HOST_QUALITY_LAG_DIFFERENCES_H

#include <array>

#include "Checks.h"

namespace kivo::quality {

inline constexpr int kColumnAxis = 0;
inline constexpr int kRowAxis = 1;

// One axis (columns or rows) of a stave pair, at every lag.
struct LagAxis {
  std::array<double, kLags> shares{};   // of the entries near the peak, 0 where the window holds none
  std::array<double, kLags> entries{};  // in the window, overflows included
  int best = 0;                         // the lag with the largest share, lag 0 among equals
  int median = 0;                       // the lag with the median share
  bool stands_out = false;              // the best lag's share stands out from the median's
  std::optional<Peak> same_event;       // lag 0's peak, when asked for and there are entries

  double share(int lag) const { return shares[static_cast<std::size_t>(lag + kMaxLag)]; }
  double entries_at(int lag) const { return entries[static_cast<std::size_t>(lag + kMaxLag)]; }
};

// The differences of stave `stave` against stave `reference` in a window.
struct LagPair {
  int stave = kNone, reference = kNone;
  double entries = 0;        // at lag 0
  double window_events = 0;  // events with the packet the window spans
  bool since_mask = false;   // the window starts where a mask changed, not a full window back
  double masked_since = 0;   // events with the packet at that change
  std::array<LagAxis, 2> axes;
};

struct LagSettings {
  double window_events, near_columns, near_rows, peak_ratio, min_significance;
  // Whether the window starts no earlier than the last change of either
  // stave's mask, for a check that must not see the pull of a pixel masked
  // since; the lags are pulled alike, so comparing them needs no such start.
  bool masked_only;
  bool place_same_event;  // whether lag 0's peak is wanted, not only its share
  // A pair with fewer entries than this in the same event is not judged:
  // only those entries are counted.
  double min_entries = 0;
};

// The window of `window_events` at the reading being judged.
LagPair measure_lags(const Context& context, int stave, int reference, const LagSettings& settings);

// The counts of `now` minus `start` (an empty `start`: none), as bins.
Bins window_bins(const LagCounts& now, const LagCounts& start);

// The entries of `now` minus `start`, and the share of them near the peak
// as find_peak gives it for window_bins, without placing the peak.
struct WindowShare {
  double entries = 0, share = 0;
};
WindowShare window_share(const LagCounts& now, const LagCounts& start, double near);

// By how many standard deviations share `a` of `a_entries` entries lies
// above share `b` of `b_entries` (binomial errors of both).
double significance(double a, double a_entries, double b, double b_entries);

// Whether lag `lag`'s share stands out from the median lag's on `axis`.
bool stands_out(const LagAxis& axis, int lag, double peak_ratio, double min_significance);

// "column" or "row".
const char* axis_name(int axis);

}  // namespace kivo::quality

#endif
