#include "BeamProfile.h"

#include <algorithm>
#include <cmath>

namespace kivo::quality {

namespace {

constexpr int kColumnGroup = 64;  // columns per group of the coarse profile
constexpr int kRowGroup = 8;
constexpr int kGroupsPerChip = kChipColumns / kColumnGroup;
constexpr double kTruncation = 3;  // the centre and width are taken within this many widths
// The variance of a Gaussian cut at +/- 3 sigma, as a share of the whole.
constexpr double kTruncatedVariance = 0.97334;
// A step between neighbouring chips counts when it is this many standard
// deviations of the counts; a chip is flat when its groups spread no more.
constexpr double kStepSignificance = 5;
constexpr int kIterations = 30;
// Groups this many standard deviations above the floor hold more than background.
constexpr double kFloorSpread = 3;

// A profile at full resolution: hits per bin, bins left out, and the
// background per bin under the peak.
struct Profile {
  const std::vector<double>& hits;
  const std::vector<bool>& excluded;
  std::vector<double> background;
};

// Mean hits per valid bin of each group of `size` bins; negative for a
// group with no valid bin.
std::vector<double> group_levels(const Profile& profile, int size) {
  const std::size_t groups = profile.hits.size() / static_cast<std::size_t>(size);
  std::vector<double> levels(groups, -1);
  for (std::size_t g = 0; g < groups; ++g) {
    double sum = 0;
    int valid = 0;
    for (std::size_t i = g * static_cast<std::size_t>(size); i < (g + 1) * static_cast<std::size_t>(size); ++i)
      if (!profile.excluded[i]) {
        sum += profile.hits[i];
        ++valid;
      }
    if (valid > 0) levels[g] = sum / valid;
  }
  return levels;
}

double quantile(std::vector<double> values, double share) {
  values.erase(std::remove_if(values.begin(), values.end(), [](double v) { return v < 0; }), values.end());
  if (values.empty()) return 0;
  const auto at = values.begin() + static_cast<long>(share * static_cast<double>(values.size() - 1));
  std::nth_element(values.begin(), at, values.end());
  return *at;
}

// The standard deviation of a group's level when it holds `level` hits per bin.
double level_error(double level, int size) { return std::sqrt(std::max(level, 1.0 / size) / size); }

// The flat step by which chip `chip` stands above both its neighbouring
// chips (one at the ends of the stave), when its groups are level; 0 otherwise.
double chip_step(const std::vector<double>& levels, int chip) {
  const auto group = [&levels](int g) { return levels[static_cast<std::size_t>(g)]; };
  const int first = chip * kGroupsPerChip, last = first + kGroupsPerChip - 1;
  std::vector<double> own(levels.begin() + first, levels.begin() + last + 1);
  const double low = quantile(own, 0.25), high = quantile(own, 0.75);
  const double error = level_error(low, kColumnGroup);
  if (high - low > kStepSignificance * error) return 0;  // not flat: a beam passes over it
  double step = HUGE_VAL;
  for (const auto& [inside, outside] : {std::pair{first, first - 1}, std::pair{last, last + 1}}) {
    if (outside < 0 || outside >= static_cast<int>(levels.size())) continue;
    if (group(inside) < 0 || group(outside) < 0) return 0;
    step = std::min(step, low - group(outside));
  }
  return step != HUGE_VAL && step > kStepSignificance * error ? step : 0;
}

// The level of the groups that hold background only: from the lowest
// quarter, the mean of the groups within kFloorSpread standard deviations
// above it, taken again until it settles. Unlike a quantile, that mean does
// not lie below the level of a flat background, whose counts scatter.
double floor_level(const std::vector<double>& levels, int size) {
  double floor = quantile(levels, 0.25);
  for (int i = 0; i < kIterations; ++i) {
    const double limit = floor + kFloorSpread * level_error(floor, size);
    double sum = 0;
    int count = 0;
    for (double level : levels)
      if (level >= 0 && level <= limit) {
        sum += level;
        ++count;
      }
    if (count == 0 || std::fabs(sum / count - floor) < 1e-9) break;
    floor = sum / count;
  }
  return floor;
}

// Background per column: the stave's floor, and above it the flat step of
// each noisy chip.
std::vector<double> column_background(const Profile& profile) {
  const std::vector<double> levels = group_levels(profile, kColumnGroup);
  const double floor = floor_level(levels, kColumnGroup);
  std::vector<double> background(profile.hits.size(), floor);
  for (int chip = 0; chip < kChips; ++chip) {
    const double step = chip_step(levels, chip);
    if (step > 0)
      std::fill(background.begin() + chip * kChipColumns, background.begin() + (chip + 1) * kChipColumns, floor + step);
  }
  return background;
}

// Background per row: the hits the columns' background spreads evenly over
// the rows, with all the hits of the columns whose hits are spread (a noisy
// chip's). The columns hold the beam in a far smaller share of their range
// than the rows, whose floor often lies within the beam.
std::vector<double> row_background(const Profile& columns, const std::vector<bool>& spread, std::size_t rows) {
  double total = 0;
  for (std::size_t x = 0; x < columns.background.size(); ++x) total += spread[x] ? columns.hits[x] : columns.background[x];
  return std::vector<double>(rows, total / static_cast<double>(rows));
}

// Where the peak starts to be sought: the median of the positive excess of
// the groups of bins over the whole profile, and half the span between its
// 16% and 84% points,
// so that a beam with a gap (a region left out) is seen whole.
std::optional<std::pair<double, double>> starting_point(const Profile& profile, int group) {
  const std::size_t size = static_cast<std::size_t>(group);
  std::vector<double> cumulative(profile.hits.size() / size, 0);
  double total = 0;
  for (std::size_t g = 0; g < cumulative.size(); ++g) {
    double excess = 0;
    for (std::size_t i = g * size; i < (g + 1) * size; ++i)
      if (!profile.excluded[i]) excess += profile.hits[i] - profile.background[i];
    total += std::max(0.0, excess);
    cumulative[g] = total;
  }
  if (!(total > 0)) return std::nullopt;
  const auto point = [&](double share) {
    const auto g = std::lower_bound(cumulative.begin(), cumulative.end(), share * total) - cumulative.begin();
    return (static_cast<double>(g) + 0.5) * group - 0.5;
  };
  return std::pair{point(0.5), std::max(1.0, (point(0.84) - point(0.16)) / 2)};
}

// Centre and width from the excess within +/- kTruncation widths, taken
// again until they settle.
std::optional<ProfilePeak> settle(const Profile& profile, double centre, double width) {
  const double last = static_cast<double>(profile.hits.size()) - 1;
  for (int i = 0; i < kIterations; ++i) {
    const double from = std::max(0.0, std::floor(centre - kTruncation * width));
    const double to = std::min(last, std::ceil(centre + kTruncation * width));
    double sum = 0, first = 0, second = 0;
    for (double x = from; x <= to; ++x) {
      const std::size_t bin = static_cast<std::size_t>(x);
      if (profile.excluded[bin]) continue;
      const double excess = profile.hits[bin] - profile.background[bin];
      sum += excess;
      first += excess * x;
      second += excess * x * x;
    }
    if (!(sum > 0)) return std::nullopt;
    const double mean = first / sum;
    const double variance = second / sum - mean * mean;
    const double next_width = std::max(0.5, std::sqrt(std::max(variance, 0.0) / kTruncatedVariance));
    const bool settled = std::fabs(mean - centre) < 0.01 && std::fabs(next_width - width) < 0.01;
    centre = mean;
    width = next_width;
    if (settled) break;
  }
  ProfilePeak peak{centre, width, 0, 0};
  const double from = std::max(0.0, std::floor(centre - 2 * width)), to = std::min(last, std::ceil(centre + 2 * width));
  for (double x = from; x <= to; ++x) {
    const std::size_t bin = static_cast<std::size_t>(x);
    if (profile.excluded[bin]) continue;
    peak.signal += profile.hits[bin] - profile.background[bin];
    peak.background += profile.background[bin];
  }
  return peak;
}

std::optional<ProfilePeak> profile_peak(const Profile& profile, int group) {
  const auto start = starting_point(profile, group);
  if (!start) return std::nullopt;
  return settle(profile, start->first, start->second);
}

}  // namespace

void ProfileMask::leave_out(const std::vector<signed char>& flags) {
  for (std::size_t x = 0; x < flags.size() && x < columns.size(); ++x) {
    if (flags[x] != 0) columns[x] = true;
    if (flags[x] > 0) spread[x] = true;
  }
}

double ProfilePeak::significance() const {
  return signal > 0 ? signal / std::sqrt(signal + background) : 0;
}

// Hits come in clusters of a few pixels: twice the errors of single hits.
double ProfilePeak::centre_error() const { return signal > 0 ? 2 * width / std::sqrt(signal) : HUGE_VAL; }

double ProfilePeak::width_error() const { return signal > 0 ? std::sqrt(2) * width / std::sqrt(signal) : HUGE_VAL; }

std::optional<BeamSpot> measure_beam(const StaveCounts& counts, const ProfileMask& mask) {
  if (counts.columns.size() != kStaveColumns || counts.rows.size() != kStaveRows) return std::nullopt;
  Profile columns{counts.columns, mask.columns, {}};
  columns.background = column_background(columns);
  Profile rows{counts.rows, mask.rows, {}};
  rows.background = row_background(columns, mask.spread, counts.rows.size());
  const std::optional<ProfilePeak> column = profile_peak(columns, kColumnGroup);
  const std::optional<ProfilePeak> row = profile_peak(rows, kRowGroup);
  if (!column || !row) return std::nullopt;
  return BeamSpot{*column, *row};
}

}  // namespace kivo::quality
