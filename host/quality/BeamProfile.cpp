#include "BeamProfile.h"

#include <algorithm>
#include <cmath>

namespace kivo::quality {

namespace {

constexpr int kColumnBin = 8;  // columns per bin of the column profile
constexpr int kDoubleColumnsPerBin = kColumnBin / 2;
constexpr int kColumnBins = kStaveColumns / kColumnBin;
constexpr int kBinsPerChip = kChipColumns / kColumnBin;
constexpr int kColumnGroup = 8;  // bins (64 columns) per group where the background is taken
constexpr int kRowGroup = 8;     // rows
constexpr int kGroupsPerChip = kBinsPerChip / kColumnGroup;
constexpr double kTruncation = 3;  // the centre and width are taken within this many widths
// The variance of a Gaussian cut at +/- 3 sigma, as a share of the whole.
constexpr double kTruncatedVariance = 0.97334;
// What binning adds to a variance, in bins squared.
constexpr double kBinVariance = 1.0 / 12;
// A step between neighbouring chips counts when it is this many standard
// deviations of the counts; a chip is flat when its groups spread no more.
constexpr double kStepSignificance = 5;
constexpr int kIterations = 30;
// Groups this many standard deviations above the floor hold more than background.
constexpr double kFloorSpread = 3;

// A profile: hits per bin, bins left out, the background per bin under the
// peak, and the bins' width and the centre of the first in columns (rows).
// Of a column profile also: per bin how many of its double columns have
// their hits spread over the rows, and those hits.
struct Profile {
  std::vector<double> hits;
  Flags excluded;
  std::vector<double> background;
  double width = 1, offset = 0;
  std::vector<unsigned char> spread = {};
  double spread_hits = 0;
};

// The column profile in bins of kColumnBin columns, from double columns.
Profile column_profile(const std::vector<double>& double_columns, const ProfileMask& mask) {
  Profile profile{std::vector<double>(kColumnBins, 0.0), Flags(kColumnBins, 0), {}, kColumnBin,
                  (kColumnBin - 1) / 2.0, Flags(kColumnBins, 0), 0};
  for (std::size_t d = 0; d < double_columns.size(); ++d) {
    const std::size_t bin = d / kDoubleColumnsPerBin;
    profile.hits[bin] += double_columns[d];
    profile.excluded[bin] |= mask.double_columns[d];
    profile.spread[bin] += mask.spread[d];
    if (mask.spread[d]) profile.spread_hits += double_columns[d];
  }
  return profile;
}

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
      std::fill(background.begin() + chip * kBinsPerChip, background.begin() + (chip + 1) * kBinsPerChip, floor + step);
  }
  return background;
}

// Background per row: the hits the columns' background spreads evenly over
// the rows, with all the hits of the double columns whose hits are spread (a
// noisy chip's). The columns hold the beam in a far smaller share of their
// range than the rows, whose floor often lies within the beam.
std::vector<double> row_background(const Profile& columns, std::size_t rows) {
  double total = columns.spread_hits;
  for (std::size_t b = 0; b < columns.background.size(); ++b)
    total += columns.background[b] * (kDoubleColumnsPerBin - columns.spread[b]) / kDoubleColumnsPerBin;
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

// Running totals of the excess over the background and of its first and
// second moments, the excluded bins counted as empty, so that each window's
// moments are a few subtractions.
class ExcessTotals {
 public:
  explicit ExcessTotals(const Profile& profile)
      : sum_(profile.hits.size() + 1, 0.0), first_(sum_), second_(sum_), background_(sum_) {
    for (std::size_t i = 0; i < profile.hits.size(); ++i) {
      const double x = static_cast<double>(i);
      const double excess = profile.excluded[i] ? 0.0 : profile.hits[i] - profile.background[i];
      sum_[i + 1] = sum_[i] + excess;
      first_[i + 1] = first_[i] + excess * x;
      second_[i + 1] = second_[i] + excess * x * x;
      background_[i + 1] = background_[i] + (profile.excluded[i] ? 0.0 : profile.background[i]);
    }
  }
  struct Moments {
    double sum, first, second, background;
  };
  // Bins from..to (whole numbers within the profile).
  Moments between(double from, double to) const {
    const std::size_t a = static_cast<std::size_t>(from), b = static_cast<std::size_t>(to) + 1;
    return {sum_[b] - sum_[a], first_[b] - first_[a], second_[b] - second_[a], background_[b] - background_[a]};
  }

 private:
  std::vector<double> sum_, first_, second_, background_;
};

// Centre and width from the excess within +/- kTruncation widths, taken
// again until they settle.
std::optional<ProfilePeak> settle(const Profile& profile, double centre, double width) {
  const ExcessTotals totals(profile);
  const double last = static_cast<double>(profile.hits.size()) - 1;
  for (int i = 0; i < kIterations; ++i) {
    // A centre that wandered off the profile (the excess there summing to
    // almost nothing) is no peak.
    if (!(centre >= 0 && centre <= last)) return std::nullopt;
    const double from = std::max(0.0, std::floor(centre - kTruncation * width));
    const double to = std::min(last, std::ceil(centre + kTruncation * width));
    const ExcessTotals::Moments window = totals.between(from, to);
    if (!(window.sum > 0)) return std::nullopt;
    const double mean = window.first / window.sum;
    const double variance = window.second / window.sum - mean * mean;
    const double next_width = std::max(0.5, std::sqrt(std::max(variance / kTruncatedVariance - kBinVariance, 0.0)));
    const bool settled = std::fabs(mean - centre) < 0.01 && std::fabs(next_width - width) < 0.01;
    centre = mean;
    width = next_width;
    if (settled) break;
  }
  if (!(centre >= 0 && centre <= last)) return std::nullopt;
  const double from = std::max(0.0, std::floor(centre - 2 * width)), to = std::min(last, std::ceil(centre + 2 * width));
  const ExcessTotals::Moments core = totals.between(from, to);
  return ProfilePeak{profile.offset + profile.width * centre, profile.width * width, core.sum, core.background};
}

std::optional<ProfilePeak> profile_peak(const Profile& profile, int group) {
  const auto start = starting_point(profile, group);
  if (!start) return std::nullopt;
  return settle(profile, start->first, start->second);
}

}  // namespace

void ProfileMask::leave_out(const std::vector<signed char>& flags) {
  for (std::size_t d = 0; d < flags.size() && d < double_columns.size(); ++d) {
    if (flags[d] != 0) double_columns[d] = 1;
    if (flags[d] > 0) spread[d] = 1;
  }
}

void ProfileMask::leave_out_pixel(int column, int row) {
  const std::size_t d = static_cast<std::size_t>(column / 2), r = static_cast<std::size_t>(row);
  if (d < double_columns.size()) double_columns[d] = 1;
  if (r < rows.size()) rows[r] = 1;
}

double ProfilePeak::significance() const {
  return signal > 0 ? signal / std::sqrt(signal + background) : 0;
}

// Hits come in clusters of a few pixels: twice the errors of single hits.
double ProfilePeak::centre_error() const { return signal > 0 ? 2 * width / std::sqrt(signal) : HUGE_VAL; }

double ProfilePeak::width_error() const { return signal > 0 ? std::sqrt(2) * width / std::sqrt(signal) : HUGE_VAL; }

std::optional<BeamSpot> measure_beam(const StaveCounts& counts, const ProfileMask& mask) {
  if (counts.double_columns.size() != kDoubleColumns || counts.rows.size() != kStaveRows) return std::nullopt;
  Profile columns = column_profile(counts.double_columns, mask);
  columns.background = column_background(columns);
  Profile rows{counts.rows, mask.rows, {}, 1, 0};
  rows.background = row_background(columns, counts.rows.size());
  const std::optional<ProfilePeak> column = profile_peak(columns, kColumnGroup);
  const std::optional<ProfilePeak> row = profile_peak(rows, kRowGroup);
  if (!column || !row) return std::nullopt;
  return BeamSpot{*column, *row};
}

}  // namespace kivo::quality
