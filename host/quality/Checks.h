// The data-quality checks, one source file each. Every check judges the
// reading of one refresh (and the windows the history gives) and returns one
// result per stave, or per chip, or one for the whole detector.
#ifndef KIVO_HOST_QUALITY_CHECKS_H
#define KIVO_HOST_QUALITY_CHECKS_H

#include <array>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "Baseline.h"
#include "BeamProfile.h"
#include "Config.h"
#include "CorrelationMasks.h"
#include "History.h"
#include "Reading.h"
#include "ReferenceRun.h"
#include "TrackBaseline.h"
#include "Verdict.h"

namespace kivo::quality {

// The peak of a difference distribution: the mean of the entries in the
// window of +/- `near` bins that holds the most; the range where it may as
// well lie (narrow for a sharp peak, wide for a broad or sparse
// distribution, whose other windows hold about as many entries); and the
// share of all entries (overflows included) inside the best window.
struct Peak {
  double position = 0;
  double low = 0, high = 0;
  double share = 0;
};

// What a run's judgements so far left, for the checks that compare with
// them: the baselines of each stave, the double columns the occupancy check
// flags in the judgement under way (-1 too few hits, +1 too many, else 0; the
// beam spot is measured without them), and the first peaks of the alignment
// check.
// A beam spot measured from counts of `events` events with `mask`.
struct MeasuredSpot {
  std::optional<BeamSpot> spot;
  double events = 0;
  ProfileMask mask;
};

// The verdict each measure judged against limits had at the last
// judgement, by check, stave, chip and place (a region, an axis; 0 for the
// measure of the whole result), so that a limit it reached holds until the
// measure is back by kLimitMargin of it and a measure that sits at a limit
// does not flip the verdict at every judgement. Good for a measure not kept.
class LimitHolds {
 public:
  Verdict last(const std::string& check, int stave, int chip = kNone, long place = 0) const;
  void keep(const std::string& check, int stave, int chip, long place, Verdict verdict);
  // Forgets every measure of `check` on `stave`: those judged again are kept anew.
  void forget(const std::string& check, int stave);

 private:
  std::map<std::tuple<std::string, int, int, long>, Verdict> verdicts_;
};

// The places (regions, chips) one check flagged in one recent window of
// `events` events, ended at `end` (events of the run): for faults that come
// and go, judged over the last windows ("dead in 5 of the last 8 windows").
struct WindowRecord {
  double end = 0, events = 0;
  std::vector<std::pair<long, Verdict>> flagged;  // place, verdict
};
using RecentWindows = std::deque<WindowRecord>;

struct RunMemory {
  std::array<Baseline, kStaves> occupancy, beam;
  std::array<MeasuredSpot, kStaves> beam_spots;  // of the beam baselines
  LimitHolds holds;
  std::array<RecentWindows, kStaves> occupancy_windows;
  std::array<std::vector<signed char>, kStaves> suspect_double_columns;
  std::array<std::optional<Peak>, kDifferenceStaves> first_column_peak, first_row_peak;
  // When the masks behind the first peaks last changed: a change takes them anew.
  std::array<double, kDifferenceStaves> first_peaks_masked_since{};
  CorrelationMasks masks;
  // The expectations of the efficiency and residuals checks per stave.
  std::array<TrackBaseline, kStaves> efficiency, residuals;
};

struct Context {
  const Config& config;
  const Reading& now;
  const History& history;
  const ReferenceRun* reference;  // null when none is loaded
  RunMemory& memory;
};

std::vector<Result> judge_occupancy(const Context& context);
std::vector<Result> judge_hot_pixels(const Context& context);
std::vector<Result> judge_busy_events(const Context& context);
std::vector<Result> judge_hit_rates(const Context& context);
std::vector<Result> judge_beam_positions(const Context& context);
std::vector<Result> judge_alignment(const Context& context);
std::vector<Result> judge_synchronisation(const Context& context);
std::vector<Result> judge_missing_packets(const Context& context);
std::vector<Result> judge_reference(const Context& context);
// The checks on tracks; no results when tracking is off.
std::vector<Result> judge_efficiency(const Context& context);
std::vector<Result> judge_residuals(const Context& context);
std::vector<Result> judge_track_synchronisation(const Context& context);

// Every enabled check, in the documented order.
std::vector<Result> judge_all(const Context& context);

// The pixels of stave `stave`'s raw map that stand out from their
// neighbours, alone or as a block, with more hits than listing_threshold
// (HotPixels.cpp).
HotPixels find_hot_pixels(const MonitorInputs& inputs, int stave, double events,
                          const HotPixelConfig& config);
double listing_threshold(const HotPixelConfig& config, double events);
// Marks the listed pixels of `now`, the newest reading of `history`, that
// fire in more than the configured share of the recent events.
void mark_firing(Reading& now, const History& history, const HotPixelConfig& config);

// The peak of `bins` (a difference distribution, bins 0..n+1 of unit width
// centred on -511..511) with a window of +/- `near`; nullopt when it is empty.
std::optional<Peak> find_peak(const Bins& bins, double near);

// `a` minus `b`, bin by bin.
Bins difference(const Bins& a, const Bins& b);

// printf-style formatting into a string, for reasons.
std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));
// `value` as printf's "%.0f" writes it, for reasons printed at every refresh.
std::string whole(double value);

// The verdict for a value that must stay below `medium` and `bad`, or above
// them when `lower_is_worse`.
Verdict judge_limit(double value, double medium, double bad, bool lower_is_worse);
// The same for a value judged `before` at the last judgement: a limit it
// was past already holds until the value is back by kLimitMargin of it.
Verdict judge_limit_held(double value, double medium, double bad, bool lower_is_worse, Verdict before);
inline constexpr double kLimitMargin = 0.1;

}  // namespace kivo::quality

#endif
