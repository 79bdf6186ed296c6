// Occupancy: chips and regions of chips with too few hits (dead, partly dead)
// or too many (noisy), found where they happen and named. Each region
// expects its share of the stave's hits earlier in the run (the baseline),
// scaled to the recent window by the events and by what the beam delivered
// there, measured where the fault is not: the other staves' hits above
// their noise floor in the same events and the stave's own without the
// region. So beams that differ between staves, a chip at the edge of the
// beam, spills and changes of intensity all keep their own expectation, and
// a window without beam is not judged. Counts are scaled down by how much
// more than Poisson counts the regions scatter (hits come in clusters)
// before a Poisson test, and a region must also be past a ratio limit, so
// that long runs do not turn small, harmless differences into alarms. The
// columns of hot pixels are left out. When the hits moved between regions
// as a beam that moves or appears moves them, it is not a fault of the
// detector: the check does not judge then and starts its baseline again. A
// region that lacks its hits in some windows and not in others (a chip
// failing now and then) is judged over the recent windows.
#include <algorithm>
#include <cmath>
#include <map>

#include "BeamDelivery.h"
#include "BeamProfile.h"
#include "Checks.h"
#include "OccupancyRegions.h"

namespace kivo::quality {

namespace {

constexpr const char* kCheck = "occupancy";
// The held verdicts of the regions that come and go, apart from the others.
constexpr const char* kIntermittent = "occupancy intermittent";
// A chip without a single hit since the start is dead when the same chip of
// every other stave has this many times the least expected hits.
constexpr double kDeadFromStartHits = 5;
// A region flagged for too few hits in at least half of the last this many
// windows from its first flagged on (and dead in one of them at least) is
// Bad; judged once it spans this many windows ...
constexpr std::size_t kIntermittentWindows = 8;
constexpr std::size_t kIntermittentFrom = 4;
// ... and held until it is flagged in this many fewer than half.
constexpr std::size_t kIntermittentHold = 1;

Result chip_result(int stave, int chip, const std::vector<Region>& regions, const std::string& judged,
                   const std::map<long, std::string>& notes) {
  Result result{kCheck, stave, chip, Verdict::Good, "", 0};
  std::string list;
  for (const Region& region : regions) {
    if (region.first / kChipDoubleColumns != chip) continue;
    if (std::tie(region.verdict, region.severity) > std::tie(result.verdict, result.severity)) {
      result.verdict = region.verdict;
      result.severity = region.severity;
    }
    const auto note = notes.find(region.place());
    list += (list.empty() ? "" : "; ") + (note != notes.end() ? note->second : describe_region(region));
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

// The baselines of every stave, advanced, and the beam each holds (its hits
// above the noise floor).
struct Baselines {
  std::array<StaveBeam, kStaves> beam{};
  std::array<bool, kStaves> ready{};
};

// What the beam delivered to `stave` in a window, against the baselines.
BeamShares beam_shares(int stave, const Delivery& delivery, const Baselines& baselines) {
  const std::size_t index = static_cast<std::size_t>(stave);
  BeamShares shares;
  shares.noise_now = delivery.window[index].noise_per_column;
  shares.noise_before = baselines.beam[index].noise_per_column;
  shares.own_counts = !delivery.silent[index];
  if (shares.own_counts) {
    shares.own_now = delivery.window[index].signal;
    shares.own_before = baselines.beam[index].signal;
  }
  for (std::size_t o = 0; o < kStaves; ++o) {
    if (o == index || !baselines.ready[o] || delivery.silent[o] || !holds_beam(baselines.beam[o])) continue;
    shares.others.push_back(delivery.window[o].intensity() / baselines.beam[o].intensity());
  }
  std::sort(shares.others.begin(), shares.others.end());
  return shares;
}

// The regions flagged for too few hits in the shortest window, kept for the
// regions that come and go; a window is recorded once it holds no event of
// the one recorded before.
void record_window(RecentWindows& windows, const Reading& now, double events, const std::vector<Region>& named) {
  if (!windows.empty() && now.events - windows.back().end < events) return;
  WindowRecord record{now.events, events, {}};
  for (const Region& region : named)
    if (!region.high) record.flagged.push_back({region.place(), region.verdict});
  windows.push_back(std::move(record));
  while (windows.size() > kIntermittentWindows) windows.pop_front();
}

// The regions flagged for too few hits in at least half of the recent
// windows from their first flagged on, dead (Bad) in one at least and not
// flagged in one at least (a region flagged in all is judged as it is now),
// as Bad regions, with their notes.
std::vector<Region> intermittent(const RecentWindows& windows, int stave, LimitHolds& holds,
                                 std::map<long, std::string>& notes) {
  struct Count {
    std::size_t flagged = 0, dead = 0, since = 0;  // since: the windows from the first flagged on
  };
  std::map<long, Count> counts;
  for (std::size_t w = 0; w < windows.size(); ++w)
    for (const auto& [place, verdict] : windows[w].flagged) {
      Count& count = counts[place];
      if (count.flagged == 0) count.since = windows.size() - w;
      count.flagged += 1;
      count.dead += verdict == Verdict::Bad;
    }
  std::map<long, bool> held;
  for (const auto& entry : counts) held[entry.first] = holds.last(kIntermittent, stave, kNone, entry.first) == Verdict::Bad;
  std::vector<Region> regions;
  holds.forget(kIntermittent, stave);
  for (const auto& [place, count] : counts) {
    // Held, it is judged over all the recent windows; else over those from
    // its first flagged on, so that a chip failing from the middle of them
    // is not diluted by the windows before.
    const std::size_t over = held[place] ? windows.size() : count.since;
    if (over < kIntermittentFrom) continue;
    const std::size_t needed = (over + 1) / 2 - (held[place] ? kIntermittentHold : 0);
    if (count.flagged < needed || count.dead == 0 || count.flagged == over) continue;
    Region region;
    region.last = static_cast<int>(place / 2 % kDoubleColumns);
    region.first = static_cast<int>(place / 2 / kDoubleColumns);
    region.events = windows.back().events;
    region.verdict = Verdict::Bad;
    region.severity = 100 + static_cast<double>(count.flagged);
    holds.keep(kIntermittent, stave, kNone, place, Verdict::Bad);
    const std::string where = region.last - region.first + 1 == kChipDoubleColumns
                                  ? std::string("the whole chip")
                                  : format("columns %d to %d", 2 * (region.first % kChipDoubleColumns),
                                           2 * (region.last % kChipDoubleColumns) + 1);
    notes[place] = where + format(" (dead in %zu of the last %zu windows of %.0f events: at most a quarter of its "
                                  "hits in %zu of them, too few in the others; as expected in the rest)",
                                  count.flagged, over, region.events, count.dead);
    regions.push_back(region);
  }
  return regions;
}

// The flagged regions of every window and the intermittent ones, each
// place once at its most severe.
std::vector<Region> with_intermittent(std::vector<Region> regions, const std::vector<Region>& coming_and_going) {
  for (const Region& region : coming_and_going) {
    const bool bad_now = std::any_of(regions.begin(), regions.end(), [&](const Region& r) {
      return r.place() == region.place() && r.verdict == Verdict::Bad;
    });
    if (bad_now) continue;
    regions.erase(std::remove_if(regions.begin(), regions.end(),
                                 [&](const Region& r) { return r.place() == region.place(); }),
                  regions.end());
    regions.push_back(region);
  }
  std::vector<Region> kept = widest(regions);
  std::sort(kept.begin(), kept.end(), [](const Region& a, const Region& b) { return a.first < b.first; });
  return kept;
}

std::vector<Result> judge_stave(const Context& context, int stave, const Baselines& baselines) {
  const OccupancyConfig& config = context.config.occupancy;
  const Reading& now = context.now;
  const std::size_t index = static_cast<std::size_t>(stave);
  const StaveReading& counts = now.staves[index];
  Baseline& baseline = context.memory.occupancy[index];
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
  const ColumnTotals baseline_totals(expected.double_columns, nullptr, excluded);
  const ColumnTotals valid(std::vector<double>(kDoubleColumns, 1.0), nullptr, excluded);
  // The windows of 1, 2, ... times min_events, those with beam judged.
  struct Window {
    const Reading* start;
    Delivery delivery;
  };
  std::vector<Window> windows;
  const std::array<bool, kStaves> silent = silent_lately(context.history, now, config.min_events);
  double previous_events = 0;
  for (double length = config.min_events; previous_events < longest_events; length += config.min_events) {
    const Reading& start = context.history.window_start(now, length, Count::Events);
    const double events = now.events - start.events;
    if (events <= previous_events) continue;
    previous_events = events;
    windows.push_back({&start, delivered(start, now, &silent)});
  }
  const auto longest_with_beam = std::find_if(windows.rbegin(), windows.rend(),
                                              [](const Window& w) { return w.delivery.has_beam(); });
  if (longest_with_beam == windows.rend()) return stave_results(stave, Verdict::Null, windows.back().delivery.no_beam());
  const auto columns_at = [stave](const Reading& reading) {
    return &reading.staves[static_cast<std::size_t>(stave)].double_columns;
  };
  // The scatter of the longest window with beam, taken apart: the clusters'
  // share holds in every window, the baseline's own fluctuation grows with
  // the window.
  const ColumnTotals longest_totals(columns_now, columns_at(*longest_with_beam->start), excluded);
  const Comparison reference{longest_with_beam->delivery.events, expected.events, longest_totals, baseline_totals,
                             valid, beam_shares(stave, longest_with_beam->delivery, baselines)};
  // A silent stave has no counts to measure it on: none of its regions could
  // have lost every hit by a fluctuation of clusters, so only the baseline's
  // own fluctuation counts.
  const double clusters =
      silent[index] ? 1 : scatter_of(reference) / (1 + reference.events_scale() * reference.stave_beam_ratio());
  const double most_per_double_column = *std::max_element(expected.double_columns.begin(), expected.double_columns.end());
  LimitHolds& holds = context.memory.holds;
  const auto before = [&holds, stave](long place) { return holds.last(kCheck, stave, kNone, place); };
  std::vector<Region> all;
  for (const Window& window : windows) {
    if (!window.delivery.has_beam()) continue;
    const ColumnTotals recent_totals(columns_now, columns_at(*window.start), excluded);
    Comparison comparison{window.delivery.events, expected.events, recent_totals, baseline_totals, valid,
                          beam_shares(stave, window.delivery, baselines)};
    comparison.scatter = clusters * (1 + comparison.events_scale() * comparison.stave_beam_ratio());
    const std::vector<Region> flagged = named(flagged_regions(comparison, config, most_per_double_column, before));
    if (&window == &windows.front())
      record_window(context.memory.occupancy_windows[index], now, window.delivery.events, flagged);
    all.insert(all.end(), flagged.begin(), flagged.end());
  }
  std::vector<Region> regions = merged(all);
  holds.forget(kCheck, stave);
  for (const Region& region : regions) holds.keep(kCheck, stave, kNone, region.place(), region.verdict);
  std::vector<signed char>& suspect = context.memory.suspect_double_columns[index];
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
      context.memory.occupancy_windows[index].clear();
      return stave_results(stave, Verdict::Null, "not judged: " + change + "; the baseline starts again from here");
    }
  }
  std::map<long, std::string> notes;
  regions = with_intermittent(regions, intermittent(context.memory.occupancy_windows[index], stave, holds, notes));
  if (!regions.empty()) baseline.flag(now.events);
  const std::string judged = format("(against %.0f events earlier in the run, hot pixels left out)", expected.events);
  std::vector<Result> results;
  for (int chip = 0; chip < kChips; ++chip) results.push_back(chip_result(stave, chip, regions, judged, notes));
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
  const OccupancyConfig& config = context.config.occupancy;
  Baselines baselines;
  for (int s = 0; s < kStaves; ++s) {
    const std::size_t index = static_cast<std::size_t>(s);
    Baseline& baseline = context.memory.occupancy[index];
    baseline.advance(context.history, context.now, s, config.window_events);
    baselines.ready[index] = baseline.counts().events >= config.baseline_events;
    if (baselines.ready[index])
      baselines.beam[index] =
          stave_beam(baseline.counts().double_columns, baseline.counts().events, noise_floor(context.now, s));
  }
  std::vector<Result> results;
  for (int stave = 0; stave < kStaves; ++stave) {
    std::vector<Result> more = judge_stave(context, stave, baselines);
    results.insert(results.end(), std::make_move_iterator(more.begin()), std::make_move_iterator(more.end()));
  }
  for (Result& result : results) judge_dead_from_start(context, result);
  return results;
}

}  // namespace kivo::quality
