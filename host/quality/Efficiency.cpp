// Efficiency: the share of the tracks of the other three staves that found a
// cluster of the stave where they point, per chip and per region of its
// cells, in the recent windows. A healthy stave's efficiency does not depend
// on the beam (its intensity, spills, where it lies), so the expectation is
// the region's own efficiency earlier in the run, or the median chip of the
// detector in the same window when that is higher (a chip failing from the
// start, or slowly from early on). A region is flagged when its efficiency
// is past a ratio limit of the expectation AND so few matches would be
// improbable were the efficiency at that limit (binomial test), so that a
// few tracks never make a verdict and a long run never turns a harmless
// difference into one.
#include <gsl/gsl_cdf.h>

#include <algorithm>
#include <cmath>
#include <tuple>

#include "Checks.h"
#include "TrackLeverage.h"
#include "TrackWindows.h"

namespace kivo::quality {

namespace {

constexpr const char* kCheck = "efficiency";
// A narrower flagged region explains a wider one that misses most of its
// matches there.
constexpr double kExplainedShare = 0.8;
// The median chip is the expectation only when it is higher than the
// chip's own level by more than rounding.
constexpr double kSameLevel = 1e-9;

// A chip's regions, widest first: the chip, its halves by columns, its
// blocks of 4 x 4 cells (256 columns by 256 rows).
std::vector<CellRegion> regions_of(int chip) {
  const int x = chip * kChipCellsX, half = kChipCellsX / 2, block = 4;
  std::vector<CellRegion> regions = {{x, x + kChipCellsX - 1, 0, kTrackCellsY - 1},
                                     {x, x + half - 1, 0, kTrackCellsY - 1},
                                     {x + half, x + kChipCellsX - 1, 0, kTrackCellsY - 1}};
  for (int bx = 0; bx < kChipCellsX; bx += block)
    for (int by = 0; by < kTrackCellsY; by += block) regions.push_back({x + bx, x + bx + block - 1, by, by + block - 1});
  return regions;
}

const std::vector<CellRegion>& chip_regions(int chip) {
  static const std::array<std::vector<CellRegion>, kChips> all = [] {
    std::array<std::vector<CellRegion>, kChips> regions;
    for (int c = 0; c < kChips; ++c) regions[static_cast<std::size_t>(c)] = regions_of(c);
    return regions;
  }();
  return all[static_cast<std::size_t>(chip)];
}

double efficiency_of(const TrackCounts& counts) { return counts.total > 0 ? counts.matched / counts.total : 0; }

// One region judged in one window.
struct Judged {
  CellRegion region;
  TrackCounts counts;
  double expected = 0;
  bool from_median = false;  // the expectation is the detector's median chip
  Verdict verdict = Verdict::Good;

  double missing() const { return std::max(0.0, expected * counts.total - counts.matched); }
};

// Past a ratio limit of the expectation, and significantly: the binomial
// probability of at most these matches, at the limit, is below `p`. A limit
// the chip was past at the last judgement holds, significant or not, until
// the efficiency is back by kLimitMargin of the loss the limit allows.
bool past(const TrackCounts& counts, double expected, double ratio, double p, bool held) {
  const double limit = (held ? 1 - (1 - ratio) * (1 - kLimitMargin) : ratio) * expected;
  if (counts.matched >= limit * counts.total || limit <= 0) return false;
  if (held) return true;
  const auto matched = static_cast<unsigned>(std::llround(counts.matched));
  const auto total = static_cast<unsigned>(std::llround(counts.total));
  return gsl_cdf_binomial_P(matched, std::min(limit, 1.0), total) < p;
}

Verdict judge_counts(const EfficiencyConfig& config, const TrackCounts& counts, double expected, Verdict before) {
  if (past(counts, expected, config.bad_ratio, config.bad_p, before >= Verdict::Bad)) return Verdict::Bad;
  if (past(counts, expected, config.medium_ratio, config.medium_p, before >= Verdict::Medium)) return Verdict::Medium;
  return Verdict::Good;
}

// The median efficiency, in one window, of the chips of the judged staves
// with enough tracks; negative when there is none.
double median_chip(const Context& context, const TrackWindow& window) {
  std::vector<double> efficiencies;
  for (int s = 0; s < kStaves; ++s) {
    if (!window.not_judged[static_cast<std::size_t>(s)].empty()) continue;
    const StaveTracks* earlier = earlier_tracks(*window.start, s);
    for (int chip = 0; chip < kChips; ++chip) {
      const TrackCounts counts = counts_in(stave_tracks(context.now, s), earlier, chip_regions(chip).front());
      if (counts.total >= context.config.efficiency.min_tracks) efficiencies.push_back(efficiency_of(counts));
    }
  }
  if (efficiencies.empty()) return -1;
  const auto middle = efficiencies.begin() + static_cast<long>(efficiencies.size() / 2);
  std::nth_element(efficiencies.begin(), middle, efficiencies.end());
  return *middle;
}

std::string percent(double share) { return format("%.1f%%", 100 * share); }

std::string expectation(const Judged& judged) {
  return percent(judged.expected) + (judged.from_median ? " on the detector's median chip" : " earlier");
}

// "efficiency 62.1% (1,204 of 1,939 tracks) in the last 3,000 events, 99.4% earlier"
std::string measured(const Judged& judged, double events) {
  return "efficiency " + percent(efficiency_of(judged.counts)) + " (" + grouped(judged.counts.matched) + " of " +
         grouped(judged.counts.total) + " tracks) in " + last_events(events) + ", " + expectation(judged);
}

// The reason for a chip judged in a window: the whole chip, then the
// narrower flagged region that holds most of its missing matches; or the
// flagged region alone when the chip as a whole is within its limits.
std::string reason_of(int stave, int chip, const std::vector<Judged>& judged, double events) {
  const Judged& whole = judged.front();
  const Judged* narrower = nullptr;
  for (std::size_t i = 1; i < judged.size(); ++i) {
    const Judged& region = judged[i];
    if (region.verdict < Verdict::Medium) continue;
    const bool explains = whole.verdict < Verdict::Medium || region.missing() >= kExplainedShare * whole.missing();
    if (explains && (!narrower || region.verdict > narrower->verdict)) narrower = &region;
  }
  std::string reason = format("stave %d, chip %d", stave, chip);
  if (whole.verdict >= Verdict::Medium || !narrower) {
    if (whole.counts.total > 0) reason += ": " + measured(whole, events);
    if (narrower) reason += "; most of the loss in " + region_name(narrower->region, chip) + ": " + measured(*narrower, events);
    return reason;
  }
  return reason + ", " + region_name(narrower->region, chip) + ": " + measured(*narrower, events);
}

// The chip's result in one window; null verdict when its tracks are too few.
Result judge_chip(const Context& context, const TrackWindow& window, double median, int stave, int chip,
                  Verdict before) {
  const EfficiencyConfig& config = context.config.efficiency;
  const StaveTracks& now = stave_tracks(context.now, stave);
  const StaveTracks* earlier = earlier_tracks(*window.start, stave);
  const StaveTracks& baseline = context.memory.efficiency[static_cast<std::size_t>(stave)].counts();
  Result result{kCheck, stave, chip, Verdict::Null, "", -1};
  std::vector<Judged> judged;
  for (const CellRegion& region : chip_regions(chip)) {
    Judged one{region, counts_in(now, earlier, region)};
    const bool whole_chip = judged.empty();
    if (one.counts.total < config.min_tracks) {
      if (whole_chip) {
        result.reason = format("stave %d, chip %d: %s tracks in %s, %s needed", stave, chip,
                               grouped(one.counts.total).c_str(), last_events(window.events).c_str(),
                               grouped(config.min_tracks).c_str());
        return result;
      }
      continue;
    }
    const TrackCounts before_counts = counts_in(baseline, nullptr, region);
    if (before_counts.total >= config.min_tracks) one.expected = efficiency_of(before_counts);
    if (whole_chip && median > one.expected * (1 + kSameLevel)) {
      one.expected = median;
      one.from_median = true;
    }
    if (one.expected <= 0) {
      if (whole_chip) {
        result.reason = format("stave %d, chip %d: %s in %s, nothing to compare with yet", stave, chip,
                               percent(efficiency_of(one.counts)).c_str(), last_events(window.events).c_str());
        return result;
      }
      continue;
    }
    one.verdict = judge_counts(config, one.counts, one.expected, before);
    judged.push_back(one);
  }
  for (const Judged& one : judged) result.verdict = worst(result.verdict, one.verdict);
  const Judged& whole = judged.front();
  result.severity = std::max(0.0, 1 - efficiency_of(whole.counts) / whole.expected);
  for (const Judged& one : judged)
    if (one.verdict >= Verdict::Medium)
      result.severity = std::max(result.severity, 1 - efficiency_of(one.counts) / one.expected);
  result.reason = reason_of(stave, chip, judged, window.events);
  return result;
}

}  // namespace

std::vector<Result> judge_efficiency(const Context& context) {
  const Reading& now = context.now;
  if (!now.tracks.present) return {};
  const EfficiencyConfig& config = context.config.efficiency;
  for (int s = 0; s < kStaves; ++s)
    context.memory.efficiency[static_cast<std::size_t>(s)].advance(context.history, now, s, config.window_events);
  std::vector<Result> results;
  for (int s = 0; s < kStaves; ++s)
    for (int chip = 0; chip < kChips; ++chip)
      results.push_back({kCheck, s, chip, Verdict::Null, format("stave %d, chip %d: ", s, chip) +
                                                             too_few_events(context, config.min_events), -2});
  for (const TrackWindow& window : track_windows(context, config.min_events, config.window_events)) {
    const double median = median_chip(context, window);
    const std::optional<Widening> culprit = widening_culprit(context, window);
    for (Result& kept : results) {
      const std::size_t s = static_cast<std::size_t>(kept.stave);
      Result judged{kCheck, kept.stave, kept.chip, Verdict::Null, window.not_judged[s], -1};
      if (window.not_judged[s].empty())
        judged = judge_chip(context, window, median, kept.stave, kept.chip,
                            context.memory.holds.last(kCheck, kept.stave, kept.chip));
      if (culprit && culprit->stave != kept.stave && judged.verdict >= Verdict::Medium)
        judged = {kCheck, kept.stave, kept.chip, Verdict::Null,
                  format("stave %d, chip %d: not judged: stave %d's clusters lie off the tracks in %s (its residuals "
                         "%.1f times as wide as earlier), which the tracks it makes for stave %d carry (%s)",
                         kept.stave, kept.chip, culprit->stave, last_events(window.events).c_str(),
                         culprit->ratio[static_cast<std::size_t>(culprit->stave)], kept.stave, judged.reason.c_str()),
                  -1};
      keep_worse(kept, std::move(judged));
    }
  }
  std::array<bool, kStaves> flagged{};
  for (Result& result : results) {
    const std::size_t s = static_cast<std::size_t>(result.stave);
    context.memory.holds.keep(kCheck, result.stave, result.chip, 0, result.verdict);
    flagged[s] = flagged[s] || result.verdict >= Verdict::Medium;
    result.severity = std::max(0.0, result.severity);
  }
  for (int s = 0; s < kStaves; ++s)
    if (flagged[static_cast<std::size_t>(s)]) context.memory.efficiency[static_cast<std::size_t>(s)].flag(now.events);
  return results;
}

}  // namespace kivo::quality
