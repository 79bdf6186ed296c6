#include "TrackLeverage.h"

#include <algorithm>
#include <cmath>

#include "Checks.h"
#include "TrackWindows.h"

namespace kivo::quality {

namespace {

// The widening of one stave's residuals is explained by a culprit's pattern
// when the pattern leaves less than this share of the squared growths.
constexpr double kUnexplainedShare = 0.2;

struct Variances {
  double recent = 0, past = 0;
  bool judged = false;
};

double variance(const ResidualSums& sums) {
  if (sums.entries <= 0) return 0;
  const double mean = sums.sum / sums.entries;
  return std::max(0.0, sums.sum2 / sums.entries - mean * mean);
}

ResidualSums minus(const ResidualSums& later, const ResidualSums& earlier) {
  return {later.entries - earlier.entries, later.sum - earlier.sum, later.sum2 - earlier.sum2};
}

// Residual variances of a stave along one axis in the window and in the
// residuals check's expectation.
Variances variances_of(const Context& context, const TrackWindow& window, int stave, ResidualSums StaveTracks::*axis) {
  const double least = context.config.residuals.min_matches;
  const StaveTracks& now = stave_tracks(context.now, stave);
  const StaveTracks* before = earlier_tracks(*window.start, stave);
  const StaveTracks& expected = context.memory.residuals[static_cast<std::size_t>(stave)].counts();
  Variances v;
  if (now.alignment.state != tracking::AlignmentState::aligned) return v;
  const ResidualSums recent = before ? minus(now.*axis, (*before).*axis) : now.*axis;
  if (recent.entries < least || (expected.*axis).entries < least) return v;
  v.recent = variance(recent);
  v.past = variance(expected.*axis);
  v.judged = v.past > 0;
  return v;
}

// The culprit along one axis, as widening_culprit finds it.
std::optional<Widening> culprit_along(const Context& context, const TrackWindow& window,
                                      ResidualSums StaveTracks::*axis) {
  Widening widening;
  double total = 0;
  for (int s = 0; s < kStaves; ++s) {
    const Variances v = variances_of(context, window, s, axis);
    if (!v.judged) continue;
    widening.excess[static_cast<std::size_t>(s)] = std::max(0.0, v.recent - v.past);
    widening.ratio[static_cast<std::size_t>(s)] = std::sqrt(v.recent / v.past);
    total += std::pow(widening.excess[static_cast<std::size_t>(s)], 2);
  }
  if (total <= 0) return std::nullopt;
  const std::array<double, kStaves>& positions = context.config.tracking.plane_positions;
  double best_unexplained = total;
  for (int moved = 0; moved < kStaves; ++moved) {
    double overlap = 0, norm = 0;
    for (int s = 0; s < kStaves; ++s) {
      const double l2 = std::pow(leverage(positions, s, moved), 2);
      overlap += widening.excess[static_cast<std::size_t>(s)] * l2;
      norm += l2 * l2;
    }
    const double scale = overlap / norm;
    double unexplained = 0;
    for (int s = 0; s < kStaves; ++s)
      unexplained +=
          std::pow(widening.excess[static_cast<std::size_t>(s)] - scale * std::pow(leverage(positions, s, moved), 2), 2);
    if (unexplained < best_unexplained) {
      best_unexplained = unexplained;
      widening.stave = moved;
    }
  }
  const bool explained = widening.stave >= 0 && best_unexplained < kUnexplainedShare * total;
  // Taken within the margin of the Medium limit, so that the blame does not
  // move to the others when the culprit's width sits at the limit.
  const double least = context.config.residuals.medium_width_ratio * (1 - kLimitMargin);
  if (!explained || widening.ratio[static_cast<std::size_t>(widening.stave)] <= least) return std::nullopt;
  return widening;
}

}  // namespace

double leverage(const std::array<double, kStaves>& positions, int judged, int moved) {
  if (judged == moved) return 1;
  double mean = 0;
  for (int s = 0; s < kStaves; ++s)
    if (s != judged) mean += positions[static_cast<std::size_t>(s)] / (kStaves - 1);
  double spread = 0;
  for (int s = 0; s < kStaves; ++s)
    if (s != judged) spread += std::pow(positions[static_cast<std::size_t>(s)] - mean, 2);
  const double at = positions[static_cast<std::size_t>(judged)] - mean;
  const double weight =
      1.0 / (kStaves - 1) + (positions[static_cast<std::size_t>(moved)] - mean) * at / std::max(spread, 1e-12);
  return std::fabs(weight);
}

std::optional<Widening> widening_culprit(const Context& context, const TrackWindow& window) {
  const std::optional<Widening> columns = culprit_along(context, window, &StaveTracks::columns);
  const std::optional<Widening> rows = culprit_along(context, window, &StaveTracks::rows);
  if (!columns || !rows) return columns ? columns : rows;
  const auto own = [](const Widening& w) { return w.ratio[static_cast<std::size_t>(w.stave)]; };
  return own(*columns) >= own(*rows) ? columns : rows;
}

}  // namespace kivo::quality
