// Occupancy: chips and regions of chips with too few hits (dead, partly dead)
// or too many (noisy), found where they happen and named. The expectation of
// each region is its share of the stave's hits earlier in the run (the
// baseline), scaled to the recent window by the events and by the stave's
// overall change, so that beams that differ between staves, a chip at the
// edge of the beam and a changing beam intensity all keep their own
// expectation. Counts are scaled down by how much more than Poisson counts
// the regions scatter (hits come in clusters) before a Poisson test, and a
// region must also be past a ratio limit, so that long runs do not turn
// small, harmless differences into alarms. The columns of hot pixels are left
// out. When the hits moved between regions as a beam that moves or appears
// moves them, it is not a fault of the detector: the check does not judge
// then and starts its baseline again.
#include <gsl/gsl_sf_gamma.h>

#include <algorithm>
#include <cmath>
#include <tuple>

#include "BeamProfile.h"
#include "Checks.h"

namespace kivo::quality {

namespace {

constexpr const char* kCheck = "occupancy";
// The median of a chi-square variable of one degree of freedom: the median
// of (hits - expected)^2 / expected over regions of Poisson counts.
constexpr double kChiSquareMedian = 0.454936;
// Regions that estimate the scatter need this many expected hits, and there
// must be this many of them.
constexpr double kScatterFrom = 20;
constexpr std::size_t kScatterRegions = 20;
// The stave has lost its hits when it keeps less than this share of them.
constexpr double kLostShare = 0.01;
// Hits scatter more than Poisson counts by the size of their clusters, a few
// pixels: a scatter estimated beyond this many times the least is taken as
// the sign of a fault, not of clusters.
constexpr double kMaxScatter = 10;
// A chip without a single hit since the start is dead when the same chip of
// every other stave has this many times the least expected hits.
constexpr double kDeadFromStartHits = 5;
// Regions within this many standard deviations of their expectation are
// passed over without a Poisson probability: none of them could be below the
// p limits (a region expecting 10 to 18 hits, the least judged, needs 4.3 to
// reach 1e-8 even at 0 hits). In a long run many regions are past a ratio
// limit by chance, few by this much.
constexpr double kScreenDeviations = 4;
// A narrower flagged region explains a wider one that lacks (or has too
// many) hits mostly where it lies.
constexpr double kExplainedShare = 0.8;

// Regions by their width in double columns, coarsest first: a chip, its
// halves, groups of 64 columns and double columns.
constexpr int kLevels[] = {kChipDoubleColumns, kChipDoubleColumns / 2, 32, 1};

// One region of a chip judged in one window.
struct Region {
  int first = 0, last = 0;  // double columns
  double hits = 0, expected = 0;
  double events = 0;
  Verdict verdict = Verdict::Good;
  bool high = false;
  double severity = 0;
};

// Running totals over the double columns of a stave, the excluded ones
// counted as empty, so that any region's total is one subtraction.
class ColumnTotals {
 public:
  // The hits of `later` less those of `earlier` (counts since the reset at
  // two readings), or of `later` alone when `earlier` is null.
  ColumnTotals(const std::vector<double>& later, const std::vector<double>* earlier, const Flags& excluded)
      : at_(later.size() + 1, 0.0) {
    for (std::size_t x = 0; x < later.size(); ++x)
      at_[x + 1] = at_[x] + (excluded[x] ? 0.0 : later[x] - (earlier ? (*earlier)[x] : 0.0));
  }
  // Double columns first..last.
  double between(int first, int last) const {
    return at_[static_cast<std::size_t>(last) + 1] - at_[static_cast<std::size_t>(first)];
  }

 private:
  std::vector<double> at_;
};

// A recent window of a stave against its baseline.
struct Comparison {
  double events;                      // of the window
  const Flags& excluded;  // double columns
  const ColumnTotals& recent_totals;
  const ColumnTotals& baseline_totals;
  const ColumnTotals& valid;          // how many double columns are not excluded
  double scale = 1;                   // expected = baseline hits * scale
  double scatter = 1;                 // counts are divided by this for the Poisson test
};

// The stave's overall change: the median over chips, among those expecting
// enough hits, of their hits against the events-scaled baseline. It follows
// a change of beam intensity, which is the hit rate check's to judge, while
// one faulty chip cannot move it. Without enough such chips (or when the
// stave has lost its hits) the events alone scale the baseline.
double overall_change(const Comparison& c, const OccupancyConfig& config, double events_scale) {
  std::vector<double> ratios;
  double hits = 0, expected = 0;
  for (int chip = 0; chip < kChips; ++chip) {
    const int first = chip * kChipDoubleColumns, last = first + kChipDoubleColumns - 1;
    const double chip_expected = events_scale * c.baseline_totals.between(first, last);
    const double chip_hits = c.recent_totals.between(first, last);
    hits += chip_hits;
    expected += chip_expected;
    if (chip_expected >= config.min_expected_hits * 10) ratios.push_back(chip_hits / chip_expected);
  }
  if (ratios.size() < 5 || hits < kLostShare * expected) return 1;
  const auto middle = ratios.begin() + static_cast<long>(ratios.size() / 2);
  std::nth_element(ratios.begin(), middle, ratios.end());
  return *middle > 0 ? *middle : 1;
}

// How much more than Poisson counts the regions scatter around their
// expectation: at least as much as the baseline's own fluctuation adds (the
// baseline's counts are Poisson too, and scaled to the window by `scale`).
// Taken on double columns, or, where too few of them expect enough hits (a
// wide or faint beam), on the narrowest groups of them of which enough do:
// clusters make hits scatter alike in regions of any width, and a floor
// taken for want of regions would judge clustered hits as Poisson counts.
double scatter_of(const Comparison& c) {
  const double floor = 1 + c.scale;
  for (int width = 1; width <= kChipDoubleColumns; width *= 2) {
    std::vector<double> terms;
    for (int first = 0; first + width <= kDoubleColumns; first += width) {
      const double expected = c.scale * c.baseline_totals.between(first, first + width - 1);
      if (expected < kScatterFrom) continue;
      const double difference = c.recent_totals.between(first, first + width - 1) - expected;
      terms.push_back(difference * difference / expected);
    }
    if (terms.size() < kScatterRegions) continue;
    const auto middle = terms.begin() + static_cast<long>(terms.size() / 2);
    std::nth_element(terms.begin(), middle, terms.end());
    return std::clamp(*middle / kChiSquareMedian, floor, kMaxScatter * floor);
  }
  return floor;
}

// Poisson probability of at most (low) or at least (high) `hits` when
// `expected` are expected, for counts that may be fractional.
double tail(double hits, double expected, bool high) {
  if (high) return hits <= 0 ? 1 : gsl_sf_gamma_inc_P(hits, expected);
  return gsl_sf_gamma_inc_Q(hits + 1, expected);
}

// The judgement of the region first..last (double columns) of hits `hits`
// where `expected` are expected and past a ratio limit.
Region judge_region(const Comparison& c, const OccupancyConfig& config, int first, int last, double hits,
                    double expected) {
  Region region{first, last, hits, expected, c.events, Verdict::Good, hits > expected, 0};
  if (2 * c.valid.between(first, last) < last - first + 1) return region;
  const double ratio = hits / expected;
  const double p = tail(hits / c.scatter, expected / c.scatter, region.high);
  const bool past_bad = region.high ? ratio > config.bad_high : ratio < config.bad_low;
  region.verdict = past_bad && p < config.bad_p ? Verdict::Bad : p < config.medium_p ? Verdict::Medium : Verdict::Good;
  region.severity = -std::log10(std::max(p, 1e-300));
  return region;
}

// Every flagged region of the stave in one window, coarsest level first. A
// region is judged when it expects enough hits and is past a Medium ratio
// limit; only those few need a Poisson probability.
std::vector<Region> flagged_regions(const Comparison& c, const OccupancyConfig& config, double most_per_double_column) {
  std::vector<Region> flagged;
  // Too few hits can show only where many are expected; too many show even
  // where a few are.
  const double least_expected = config.min_expected_hits * c.scatter;
  const double least_for_excess = c.scatter;
  for (const int width : kLevels) {
    if (c.scale * width * most_per_double_column < least_for_excess) continue;  // no region of the level is judged
    for (int first = 0; first < kDoubleColumns; first += width) {
      const int last = first + width - 1;
      const double expected = c.scale * c.baseline_totals.between(first, last);
      if (expected < least_for_excess) continue;
      const double hits = c.recent_totals.between(first, last);
      if (expected < least_expected && hits <= expected) continue;
      if (hits <= config.medium_high * expected && hits >= config.medium_low * expected) continue;
      if (std::fabs(hits - expected) < kScreenDeviations * std::sqrt(c.scatter * expected)) continue;
      Region region = judge_region(c, config, first, last, hits, expected);
      if (region.verdict >= Verdict::Medium) flagged.push_back(region);
    }
  }
  return flagged;
}

bool inside(const Region& a, const Region& b) { return a.first >= b.first && a.last <= b.last; }

// The hits a region lacks (or has too many).
double excess(const Region& region) { return std::fabs(region.hits - region.expected); }

// Whether `inner`, flagged in the same direction inside `outer`, accounts
// for most of what `outer` lacks or has too much: then the narrower region
// is the one to name.
bool explains(const Region& inner, const Region& outer) {
  return inner.high == outer.high && inside(inner, outer) && inner.last - inner.first < outer.last - outer.first &&
         excess(inner) >= kExplainedShare * excess(outer);
}

// Drops from `regions` each that lies inside a wider one of the same direction.
std::vector<Region> widest(const std::vector<Region>& regions) {
  std::vector<Region> kept;
  for (const Region& region : regions) {
    const bool within_wider = std::any_of(regions.begin(), regions.end(), [&](const Region& wider) {
      return wider.high == region.high && inside(region, wider) && wider.last - wider.first > region.last - region.first;
    });
    if (!within_wider) kept.push_back(region);
  }
  return kept;
}

// The regions to name of those flagged in one window: a region is dropped
// when a narrower one inside it explains it, or when it lies inside a wider
// one that is kept.
std::vector<Region> named(const std::vector<Region>& flagged) {
  std::vector<Region> unexplained;
  for (const Region& region : flagged)
    if (std::none_of(flagged.begin(), flagged.end(), [&](const Region& inner) { return explains(inner, region); }))
      unexplained.push_back(region);
  return widest(unexplained);
}

// The regions named in several windows: each place once, in its most severe
// judgement, and none inside a wider one.
std::vector<Region> merged(const std::vector<Region>& all) {
  std::vector<Region> places;
  for (const Region& region : all) {
    auto same = std::find_if(places.begin(), places.end(), [&](const Region& p) {
      return p.first == region.first && p.last == region.last && p.high == region.high;
    });
    if (same == places.end())
      places.push_back(region);
    else if (std::tie(region.verdict, region.severity) > std::tie(same->verdict, same->severity))
      *same = region;
  }
  std::vector<Region> kept = widest(places);
  std::sort(kept.begin(), kept.end(), [](const Region& a, const Region& b) { return a.first < b.first; });
  return kept;
}

std::string describe_region(const Region& region) {
  const int chip_first = 2 * (region.first % kChipDoubleColumns), chip_last = 2 * (region.last % kChipDoubleColumns) + 1;
  std::string place = region.last - region.first + 1 == kChipDoubleColumns
                          ? std::string("the whole chip")
                          : format("columns %d to %d", chip_first, chip_last);
  const double share = region.expected > 0 ? 100 * region.hits / region.expected : 0;
  return place + format(" (%s: %.0f hits in the last %.0f events, %.0f expected, %.0f%%)",
                        region.high ? "too many" : "too few", region.hits, region.events, region.expected, share);
}

Result chip_result(int stave, int chip, const std::vector<Region>& regions, const std::string& judged) {
  Result result{kCheck, stave, chip, Verdict::Good, "", 0};
  std::string list;
  for (const Region& region : regions) {
    if (region.first / kChipDoubleColumns != chip) continue;
    if (std::tie(region.verdict, region.severity) > std::tie(result.verdict, result.severity)) {
      result.verdict = region.verdict;
      result.severity = region.severity;
    }
    list += (list.empty() ? "" : "; ") + describe_region(region);
  }
  result.reason = format("stave %d, chip %d: ", stave, chip) +
                  (list.empty() ? "hits as expected " + judged : list + " " + judged);
  return result;
}

std::vector<Result> stave_results(int stave, Verdict verdict, const std::string& why) {
  std::vector<Result> results;
  for (int chip = 0; chip < kChips; ++chip)
    results.push_back({kCheck, stave, chip, verdict, format("stave %d, chip %d: ", stave, chip) + why, 0});
  return results;
}

// Double columns of the hot pixels listed now: left out of every count, so
// that the baseline and the windows lose the same.
Flags hot_double_columns(const HotPixels& hot) {
  Flags excluded(kDoubleColumns, 0);
  for (const HotPixel& pixel : hot.pixels) excluded[static_cast<std::size_t>(pixel.column / 2)] = 1;
  return excluded;
}

// The hot pixels' columns and rows, and the columns of the flagged regions
// with too few hits (and, with `high`, too many): the beam spot is compared
// without them, before and now alike.
ProfileMask beam_mask(const HotPixels& hot, const std::vector<Region>& regions, bool high) {
  ProfileMask mask;
  for (const HotPixel& pixel : hot.pixels) mask.leave_out_pixel(pixel.column, pixel.row);
  std::vector<signed char> flagged(kDoubleColumns, 0);
  for (const Region& region : regions)
    if (high || !region.high)
      std::fill(flagged.begin() + region.first, flagged.begin() + region.last + 1, region.high ? 1 : -1);
  mask.leave_out(flagged);
  return mask;
}

bool beam_present(const std::optional<BeamSpot>& spot, const BeamPositionConfig& beam) {
  return spot && spot->column.signal >= beam.min_beam_hits && spot->column.significance() >= beam.min_significance;
}

// Why the hits moved as a beam that appears or moves moves them, or an
// empty text. Whether a beam appeared is seen with the regions of too many
// hits (a beam may be what they hold); whether it moved, without them (a
// noisy chip under the beam would pull it).
std::string beam_change(const StaveCounts& baseline, const StaveCounts& recent, const HotPixels& hot,
                        const std::vector<Region>& regions, const BeamPositionConfig& beam) {
  const ProfileMask low_only = beam_mask(hot, regions, false);
  if (beam_present(measure_beam(recent, low_only), beam) && !beam_present(measure_beam(baseline, low_only), beam))
    return "the beam appeared";
  const ProfileMask mask = beam_mask(hot, regions, true);
  const std::optional<BeamSpot> before = measure_beam(baseline, mask);
  const std::optional<BeamSpot> now = measure_beam(recent, mask);
  if (!beam_present(now, beam) || !beam_present(before, beam)) return "";
  const double moved = std::fabs(now->column.centre - before->column.centre);
  const double error = std::hypot(now->column.centre_error(), before->column.centre_error());
  const double widths = std::max(now->column.width, before->column.width) / std::min(now->column.width, before->column.width);
  if ((moved > 0.5 * before->column.width && moved > 3 * error) || widths > 1.4)
    return format("the beam moved from column %.0f (width %.0f) to column %.0f (width %.0f)", before->column.centre,
                  before->column.width, now->column.centre, now->column.width);
  return "";
}

// Hits that moved between regions in both directions at once: a beam moved.
bool both_directions(const std::vector<Region>& regions) {
  const bool low = std::any_of(regions.begin(), regions.end(), [](const Region& r) { return !r.high; });
  const bool high = std::any_of(regions.begin(), regions.end(), [](const Region& r) { return r.high; });
  const long high_chips = std::count_if(regions.begin(), regions.end(), [](const Region& r) {
    return r.high && r.last - r.first + 1 == kChipDoubleColumns;
  });
  return (low && high) || high_chips >= 3;
}

std::vector<Result> judge_stave(const Context& context, int stave) {
  const OccupancyConfig& config = context.config.occupancy;
  const Reading& now = context.now;
  const StaveReading& counts = now.staves[static_cast<std::size_t>(stave)];
  Baseline& baseline = context.memory.occupancy[static_cast<std::size_t>(stave)];
  baseline.advance(context.history, now, stave, config.window_events);
  const StaveCounts& expected = baseline.counts();
  if (expected.events < config.baseline_events)
    return stave_results(stave, Verdict::Null,
                         format("building the baseline from earlier in the run: %.0f of %.0f events", expected.events,
                                config.baseline_events));
  const Flags excluded = hot_double_columns(counts.hot);
  const Reading& longest_start = context.history.window_start(now, config.window_events, Count::Events);
  const double longest_events = now.events - longest_start.events;
  if (longest_events < config.min_events)
    return stave_results(stave, Verdict::Null,
                         format("%.0f events in the window, %.0f needed", longest_events, config.min_events));
  const std::vector<double>& columns_now = counts.double_columns;
  const auto columns_at = [stave](const Reading& reading) {
    return &reading.staves[static_cast<std::size_t>(stave)].double_columns;
  };
  const ColumnTotals baseline_totals(expected.double_columns, nullptr, excluded);
  const ColumnTotals longest_totals(columns_now, columns_at(longest_start), excluded);
  const ColumnTotals valid(std::vector<double>(kDoubleColumns, 1.0), nullptr, excluded);
  Comparison reference{longest_events, excluded, longest_totals, baseline_totals, valid};
  const double events_scale = longest_events / expected.events;
  reference.scale = events_scale * overall_change(reference, config, events_scale);
  // The scatter of the longest window, taken apart: the clusters' share holds
  // in every window, the baseline's own fluctuation grows with the window.
  const double clusters = scatter_of(reference) / (1 + reference.scale);
  const double most_per_double_column = *std::max_element(expected.double_columns.begin(), expected.double_columns.end());
  std::vector<Region> all;
  double previous_events = 0;
  for (double length = config.min_events; previous_events < longest_events; length += config.min_events) {
    const Reading& start = context.history.window_start(now, length, Count::Events);
    const double events = now.events - start.events;
    if (events <= previous_events) continue;
    previous_events = events;
    const ColumnTotals recent_totals(columns_now, columns_at(start), excluded);
    Comparison window{events, excluded, recent_totals, baseline_totals, valid};
    const double scale = events / expected.events;
    window.scale = scale * overall_change(window, config, scale);
    window.scatter = clusters * (1 + window.scale);
    const std::vector<Region> flagged = named(flagged_regions(window, config, most_per_double_column));
    all.insert(all.end(), flagged.begin(), flagged.end());
  }
  const std::vector<Region> regions = merged(all);
  std::vector<signed char>& suspect = context.memory.suspect_double_columns[static_cast<std::size_t>(stave)];
  suspect.assign(kDoubleColumns, 0);
  for (const Region& region : regions)
    std::fill(suspect.begin() + region.first, suspect.begin() + region.last + 1, region.high ? 1 : -1);
  if (!regions.empty()) {
    std::string change = both_directions(regions)
                             ? "hits moved between regions of the stave as a moving beam moves them"
                             : beam_change(expected, counts_between(longest_start, now, stave), counts.hot, regions,
                                           context.config.beam_position);
    if (!change.empty()) {
      baseline.restart(now, stave);
      suspect.assign(kDoubleColumns, 0);
      return stave_results(stave, Verdict::Null, "not judged: " + change + "; the baseline starts again from here");
    }
  }
  if (!regions.empty()) baseline.flag(now.events);
  const std::string judged = format("(against %.0f events earlier in the run, hot pixels left out)", expected.events);
  std::vector<Result> results;
  for (int chip = 0; chip < kChips; ++chip) results.push_back(chip_result(stave, chip, regions, judged));
  return results;
}

// A chip dead since the start of the run has no stretch of the run to
// expect hits from. A living chip always has some, from the beam or from
// noise, so one without a single hit since the reset, while the same chip
// of every other stave has plenty, is dead whatever their beam spots.
void judge_dead_from_start(const Context& context, Result& result) {
  const OccupancyConfig& config = context.config.occupancy;
  const Reading& now = context.now;
  if (result.verdict == Verdict::Bad || now.events < config.min_events) return;
  // Hot pixels left out: one on a chip far from the beam outfires its noise.
  const auto hits = [&](int stave) {
    const StaveReading& counts = now.staves[static_cast<std::size_t>(stave)];
    double hot = 0;
    for (const HotPixel& pixel : counts.hot.pixels)
      if (pixel.column / kChipColumns == result.chip) hot += pixel.hits;
    return std::max(0.0, counts.chip_hits[static_cast<std::size_t>(result.chip)] - hot);
  };
  if (hits(result.stave) > 0) return;
  double fewest = HUGE_VAL, most = 0;
  for (int other = 0; other < kStaves; ++other) {
    if (other == result.stave) continue;
    fewest = std::min(fewest, hits(other));
    most = std::max(most, hits(other));
  }
  if (fewest < kDeadFromStartHits * config.min_expected_hits) return;
  result.verdict = Verdict::Bad;
  result.severity = 300;
  result.reason = format("stave %d, chip %d: no hit in the %.0f events since the start of the run (or the last "
                         "reset), while the same chip of the other staves has %.0f to %.0f (hot pixels left out)",
                         result.stave, result.chip, now.events, fewest, most);
}

}  // namespace

std::vector<Result> judge_occupancy(const Context& context) {
  std::vector<Result> results;
  for (int stave = 0; stave < kStaves; ++stave) {
    std::vector<Result> more = judge_stave(context, stave);
    results.insert(results.end(), std::make_move_iterator(more.begin()), std::make_move_iterator(more.end()));
  }
  for (Result& result : results) judge_dead_from_start(context, result);
  return results;
}

}  // namespace kivo::quality
