#include "OccupancyRegions.h"

#include <gsl/gsl_sf_gamma.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <tuple>

namespace kivo::quality {

namespace {

// The median of a chi-square variable of one degree of freedom: the median
// of (hits - expected)^2 / expected over regions of Poisson counts.
constexpr double kChiSquareMedian = 0.454936;
// Regions that estimate the scatter need this many expected hits, and there
// must be this many of them.
constexpr double kScatterFrom = 20;
constexpr std::size_t kScatterRegions = 20;
// Hits scatter more than Poisson counts by the size of their clusters, a few
// pixels: a scatter estimated beyond this many times the least is taken as
// the sign of a fault, not of clusters.
constexpr double kMaxScatter = 10;
// Regions within this many standard deviations of their expectation are
// passed over without a Poisson probability: none of them could be below the
// p limits (a region expecting 10 to 18 hits, the least judged, needs 4.3 to
// reach 1e-8 even at 0 hits). In a long run many regions are past a ratio
// limit by chance, few by this much.
constexpr double kScreenDeviations = 4;
// A narrower flagged region explains a wider one that lacks (or has too
// many) hits mostly where it lies.
constexpr double kExplainedShare = 0.8;
// A stave's own beam counts for the ratio with at least this many beam hits
// in the baseline.
constexpr double kRatioFrom = 100;
// A level of regions is passed over when even this many times the stave's
// beam ratio would not make its fullest region expect enough hits.
constexpr double kRatioBound = 4;

// Regions by their width in double columns, coarsest first: a chip, its
// halves, groups of 64 columns and double columns.
constexpr int kLevels[] = {kChipDoubleColumns, kChipDoubleColumns / 2, 32, 1};

// Poisson probability of at most (low) or at least (high) `hits` when
// `expected` are expected, for counts that may be fractional.
double tail(double hits, double expected, bool high) {
  if (high) return hits <= 0 ? 1 : gsl_sf_gamma_inc_P(hits, expected);
  return gsl_sf_gamma_inc_Q(hits + 1, expected);
}

// The judgement of the region first..last (double columns) of hits `hits`
// where `expected` are expected and past a ratio limit.
Region judge_region(const Comparison& c, const RegionLimits& limits, int first, int last, double hits,
                    double expected, bool high) {
  Region region{first, last, hits, expected, c.events, Verdict::Good, high, 0};
  if (2 * c.valid.between(first, last) < last - first + 1) return region;
  const double ratio = hits / expected;
  const double p = tail(hits / c.scatter, expected / c.scatter, high);
  const bool past_bad = high ? ratio > limits.bad_high : ratio < limits.bad_low;
  region.verdict = past_bad && p < limits.bad_p ? Verdict::Bad : p < limits.medium_p ? Verdict::Medium : Verdict::Good;
  region.severity = -std::log10(std::max(p, 1e-300));
  return region;
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

}  // namespace

ColumnTotals::ColumnTotals(const std::vector<double>& later, const std::vector<double>* earlier,
                           const Flags& excluded)
    : at_(later.size() + 1, 0.0) {
  for (std::size_t x = 0; x < later.size(); ++x)
    at_[x + 1] = at_[x] + (excluded[x] ? 0.0 : later[x] - (earlier ? (*earlier)[x] : 0.0));
}

namespace {

// The ratio of the beam per event in the window to that of the baseline,
// the middle (the lower middle) of the other staves' and of `own_now` and
// `own_before` (beam hits), when those hold beam; 1 when nothing does.
// Taken for every region of every window: the others are in order, so the
// middle is found by where the stave's own ratio falls among them.
double middle_ratio(const Comparison& c, double own_now, double own_before) {
  const std::vector<double>& others = c.beam.others;
  if (!c.beam.own_counts || !(own_before > kRatioFrom)) return others.empty() ? 1 : others[(others.size() - 1) / 2];
  const double own = (own_now / c.events) / (own_before / c.baseline_events);
  // The (lower) middle of the others and `own`: the k-th smallest of them.
  const std::size_t k = others.size() / 2;
  if (k > 0 && own <= others[k - 1]) return others[k - 1];
  if (k < others.size() && own >= others[k]) return others[k];
  return own;
}

}  // namespace

double Comparison::beam_ratio(int first, int last) const {
  const double columns = valid.between(first, last);
  const double region_now = recent_totals.between(first, last) - columns * beam.noise_now;
  const double region_before = baseline_totals.between(first, last) - columns * beam.noise_before;
  return middle_ratio(*this, std::max(0.0, beam.own_now - region_now), std::max(0.0, beam.own_before - region_before));
}

double Comparison::stave_beam_ratio() const { return middle_ratio(*this, beam.own_now, beam.own_before); }

Comparison::Range Comparison::expected_range(int first, int last) const {
  const double scaled = baseline_totals.between(first, last) * events_scale(), ratio = beam_ratio(first, last);
  return {scaled * std::min(1.0, ratio), scaled * std::max(1.0, ratio)};
}

double Comparison::expected_point(int first, int last, double scale, double stave_ratio) const {
  const double before = baseline_totals.between(first, last);
  const double noise = std::min(before, valid.between(first, last) * beam.noise_before);
  return scale * (noise + (before - noise) * stave_ratio);
}

// Taken on double columns, or, where too few of them expect enough hits (a
// wide or faint beam), on the narrowest groups of them of which enough do:
// clusters make hits scatter alike in regions of any width, and a floor
// taken for want of regions would judge clustered hits as Poisson counts.
double scatter_of(const Comparison& c) {
  const double scale = c.events_scale(), stave_ratio = c.stave_beam_ratio();
  const double floor = 1 + scale * stave_ratio;
  std::vector<double> terms;
  for (int width = 1; width <= kChipDoubleColumns; width *= 2) {
    terms.clear();
    for (int first = 0; first + width <= kDoubleColumns; first += width) {
      const double expected = c.expected_point(first, first + width - 1, scale, stave_ratio);
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

RegionLimits held_limits(const OccupancyConfig& config, Verdict before) {
  RegionLimits limits{config.medium_low, config.bad_low, config.medium_high, config.bad_high, config.medium_p,
                      config.bad_p};
  const auto hold = [](double& low, double& high, double& p) {
    low *= 1 + kLimitMargin;
    high = 1 + (high - 1) * (1 - kLimitMargin);
    p = std::pow(p, 1 - kLimitMargin);
  };
  if (before >= Verdict::Medium) hold(limits.medium_low, limits.medium_high, limits.medium_p);
  if (before >= Verdict::Bad) hold(limits.bad_low, limits.bad_high, limits.bad_p);
  return limits;
}

// A region is judged when it expects enough hits and is past a Medium ratio
// limit; only those few need a Poisson probability. The verdict a region had
// (a lookup) is asked only of those past the loosest Medium limits, those
// held by the margin, and far enough from their expectation to be judged.
std::vector<Region> flagged_regions(const Comparison& c, const OccupancyConfig& config,
                                    double most_per_double_column, const std::function<Verdict(long)>& before) {
  std::vector<Region> flagged;
  const RegionLimits loosest = held_limits(config, Verdict::Medium);
  const double least_expected = config.min_expected_hits * c.scatter;
  const double least_for_excess = c.scatter;
  const double most_scale = c.events_scale() * std::max(1.0, kRatioBound * c.stave_beam_ratio());
  for (const int width : kLevels) {
    if (most_scale * width * most_per_double_column < least_for_excess) continue;  // no region of the level is judged
    for (int first = 0; first < kDoubleColumns; first += width) {
      const int last = first + width - 1;
      if (c.baseline_totals.between(first, last) * most_scale < least_for_excess) continue;
      const double hits = c.recent_totals.between(first, last);
      const auto [low, high] = c.expected_range(first, last);
      const bool too_many = hits > high;
      if (!too_many && !(hits < low)) continue;
      const double expected = too_many ? high : low;
      if (expected < (too_many ? least_for_excess : least_expected)) continue;
      if (too_many ? hits <= loosest.medium_high * expected : hits >= loosest.medium_low * expected) continue;
      if (std::fabs(hits - expected) < kScreenDeviations * std::sqrt(c.scatter * expected)) continue;
      Region candidate{first, last, 0, 0, 0, Verdict::Good, too_many, 0};
      const RegionLimits limits = held_limits(config, before(candidate.place()));
      if (too_many ? hits <= limits.medium_high * expected : hits >= limits.medium_low * expected) continue;
      Region region = judge_region(c, limits, first, last, hits, expected, too_many);
      if (region.verdict >= Verdict::Medium) flagged.push_back(region);
    }
  }
  return flagged;
}

std::vector<Region> widest(const std::vector<Region>& regions) {
  std::vector<Region> kept;
  for (const Region& region : regions) {
    const bool within_wider = std::any_of(regions.begin(), regions.end(), [&](const Region& wider) {
      return wider.high == region.high && inside(region, wider) && wider.last - wider.first > region.last - region.first &&
             wider.verdict >= region.verdict;
    });
    if (!within_wider) kept.push_back(region);
  }
  return kept;
}

std::vector<Region> named(const std::vector<Region>& flagged) {
  std::vector<Region> unexplained;
  for (const Region& region : flagged)
    if (std::none_of(flagged.begin(), flagged.end(), [&](const Region& inner) { return explains(inner, region); }))
      unexplained.push_back(region);
  return widest(unexplained);
}

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

}  // namespace kivo::quality
