// Beam position: each stave's beam spot in the recent window against the
// spot of the earlier stretches of the run (or of the reference run). The
// spot is measured without the hot pixels, without the regions the
// occupancy check flags in this judgement, and with a noisy chip's flat
// step taken as background, so that neither captures it; the earlier
// stretches enter the baseline only while the spot there agreed. A window
// without beam (between spills) is not judged.
#include <algorithm>
#include <cmath>

#include "BeamDelivery.h"
#include "BeamProfile.h"
#include "Checks.h"

namespace kivo::quality {

namespace {

constexpr const char* kCheck = "beam_position";
constexpr double kRemeasureGrowth = 1.1;
// A spot wider than this share of its axis fills the stave: its centre and
// width then depend on the background taken beside it more than on the
// beam, and that axis is not judged.
constexpr double kWidestJudged = 1.0 / 6;
// A window without a significant beam has lost it only when the expected
// spot, scaled to the window, would have stood out this many times over the
// limits; a fainter beam cannot be measured in one window.
constexpr double kClearMargin = 2;

double width_ratio(double now, double then) {
  const double a = std::fabs(now), b = std::fabs(then);
  if (a == b) return 1;
  if (std::min(a, b) <= 0) return HUGE_VAL;
  return std::max(a, b) / std::min(a, b);
}

bool significant(const BeamPositionConfig& config, const ProfilePeak& peak) {
  return peak.signal >= config.min_beam_hits && peak.significance() >= config.min_significance;
}

bool significant(const BeamPositionConfig& config, const std::optional<BeamSpot>& spot) {
  return spot && significant(config, spot->column) && significant(config, spot->row);
}

std::string describe(const BeamSpot& spot) {
  return format("column %.0f, row %.0f (widths %.0f and %.0f)", spot.column.centre, spot.row.centre,
                spot.column.width, spot.row.width);
}

std::string describe_strength(const std::optional<BeamSpot>& spot) {
  if (!spot) return "no peak above the background";
  return format("%.0f hits above a background of %.0f", spot->column.signal, spot->column.background);
}

bool judged_axis(const ProfilePeak& then, double axis_length) { return then.width <= kWidestJudged * axis_length; }

// A move, or a change of width, counts once it exceeds three times its
// statistical uncertainty.
double distance(const ProfilePeak& now, const ProfilePeak& then, double axis_length) {
  if (!judged_axis(then, axis_length)) return 0;
  const double moved = std::fabs(now.centre - then.centre);
  return moved > 3 * std::hypot(now.centre_error(), then.centre_error()) ? moved : 0;
}

double width_change(const ProfilePeak& now, const ProfilePeak& then, double axis_length) {
  if (!judged_axis(then, axis_length)) return 1;
  const double changed = std::fabs(now.width - then.width);
  return changed > 3 * std::hypot(now.width_error(), then.width_error()) ? width_ratio(now.width, then.width) : 1;
}

// Whether the spot `expected`, measured over `expected_events`, would stand
// out clearly in a window of `events`.
bool clearly_measurable(const BeamPositionConfig& config, const BeamSpot& expected, double expected_events,
                        double events) {
  if (expected_events <= 0) return false;
  const double scale = events / expected_events;
  for (const auto& [peak, length] : {std::pair(expected.column, kStaveColumns), std::pair(expected.row, kStaveRows)}) {
    if (!judged_axis(peak, length)) continue;
    const ProfilePeak scaled{peak.centre, peak.width, peak.signal * scale, peak.background * scale};
    if (scaled.signal < kClearMargin * config.min_beam_hits ||
        scaled.significance() < kClearMargin * config.min_significance)
      return false;
  }
  return true;
}

Result compare(const BeamPositionConfig& config, int stave, const BeamSpot& now, const BeamSpot& then,
               double events, const std::string& against_what, Verdict before) {
  const double columns = distance(now.column, then.column, kStaveColumns);
  const double rows = distance(now.row, then.row, kStaveRows);
  const double widths = std::max(width_change(now.column, then.column, kStaveColumns),
                                 width_change(now.row, then.row, kStaveRows));
  Verdict verdict = judge_limit_held(columns, config.medium_columns, config.bad_columns, false, before);
  verdict = worst(verdict, judge_limit_held(rows, config.medium_rows, config.bad_rows, false, before));
  verdict = worst(verdict, judge_limit_held(widths - 1, config.medium_width_ratio - 1, config.bad_width_ratio - 1,
                                            false, before));
  const double severity = std::max({columns / config.bad_columns, rows / config.bad_rows, widths / config.bad_width_ratio});
  const std::string reason = format("stave %d: beam at ", stave) + describe(now) + format(" in the last %.0f events; ", events) +
                             against_what + " " + describe(then) +
                             format(": moved %.0f columns and %.0f rows, widths changed up to %.2f times",
                                    std::fabs(now.column.centre - then.column.centre),
                                    std::fabs(now.row.centre - then.row.centre), widths);
  return {kCheck, stave, kNone, verdict, reason, severity};
}

ProfileMask mask_of(const Context& context, int stave) {
  const std::size_t index = static_cast<std::size_t>(stave);
  ProfileMask mask;
  for (const HotPixel& pixel : context.now.staves[index].hot.pixels) mask.leave_out_pixel(pixel.column, pixel.row);
  mask.leave_out(context.memory.suspect_double_columns[index]);
  return mask;
}

// The spot of the baseline, measured again only when the baseline has grown
// by a tenth since, or the mask changed: one stretch more barely moves it.
std::optional<BeamSpot> baseline_spot(MeasuredSpot& kept, const StaveCounts& counts, const ProfileMask& mask) {
  const bool still = kept.events > 0 && counts.events < kRemeasureGrowth * kept.events &&
                     counts.events >= kept.events && kept.mask.double_columns == mask.double_columns &&
                     kept.mask.rows == mask.rows && kept.mask.spread == mask.spread;
  if (!still) kept = {measure_beam(counts, mask), counts.events, mask};
  return kept.spot;
}

Result judge_stave(const Context& context, int stave) {
  const BeamPositionConfig& config = context.config.beam_position;
  const Reading& now = context.now;
  const std::size_t index = static_cast<std::size_t>(stave);
  Baseline& baseline = context.memory.beam[index];
  baseline.advance(context.history, now, stave, config.window_events);
  const Reading& start = context.history.window_start(now, config.window_events, Count::Events);
  const StaveCounts recent = counts_between(start, now, stave);
  const auto null = [stave](const std::string& why) {
    return Result{kCheck, stave, kNone, Verdict::Null, format("stave %d: ", stave) + why, 0};
  };
  if (recent.events < config.min_events)
    return null(format("%.0f events in the window, %.0f needed", recent.events, config.min_events));
  const Delivery delivery = delivered(start, now);
  if (!delivery.has_beam()) return null(delivery.no_beam());
  const ProfileMask mask = mask_of(context, stave);
  const ReferenceRun* reference = context.reference;
  const bool from_reference = reference && significant(config, reference->beam_spot[index]);
  std::optional<BeamSpot> expected = from_reference ? reference->beam_spot[index] : std::nullopt;
  if (!from_reference) {
    if (baseline.counts().events < config.baseline_events)
      return null(format("building the baseline from earlier in the run: %.0f of %.0f events",
                         baseline.counts().events, config.baseline_events));
    expected = baseline_spot(context.memory.beam_spots[index], baseline.counts(), mask);
    if (!significant(config, expected))
      return null(format("no significant beam earlier in the run to compare with (%s in %.0f events; %.0f hits and "
                         "%g standard deviations needed)",
                         describe_strength(expected).c_str(), baseline.counts().events, config.min_beam_hits,
                         config.min_significance));
  }
  if (!judged_axis(expected->column, kStaveColumns) && !judged_axis(expected->row, kStaveRows))
    return null(format("the beam fills the stave (widths %.0f of %d columns and %.0f of %d rows): its position "
                       "cannot be told from the background",
                       expected->column.width, kStaveColumns, expected->row.width, kStaveRows));
  const std::optional<BeamSpot> spot = measure_beam(recent, mask);
  const bool spot_significant =
      spot && (!judged_axis(expected->column, kStaveColumns) || significant(config, spot->column)) &&
      (!judged_axis(expected->row, kStaveRows) || significant(config, spot->row));
  if (!spot_significant) {
    const double expected_events = from_reference ? reference->events : baseline.counts().events;
    if (!clearly_measurable(config, *expected, expected_events, recent.events))
      return null(format("the beam is too faint to measure in %.0f events (%s; ", recent.events,
                         describe_strength(spot).c_str()) +
                  (from_reference ? "the reference run's at " : "earlier in the run at ") + describe(*expected) +
                  ")");
    baseline.flag(now.events);
    return {kCheck, stave, kNone, Verdict::Medium,
            format("stave %d: no significant beam in the last %.0f events (%s); ", stave, recent.events,
                   describe_strength(spot).c_str()) +
                (from_reference ? "the reference run's at " : "earlier in the run at ") + describe(*expected),
            1};
  }
  Result result = compare(config, stave, *spot, *expected, recent.events,
                          from_reference ? "the reference run's at" : "earlier in the run at",
                          context.memory.holds.last(kCheck, stave));
  context.memory.holds.keep(kCheck, stave, kNone, 0, result.verdict);
  if (result.verdict >= Verdict::Medium) baseline.flag(now.events);
  return result;
}

}  // namespace

std::vector<Result> judge_beam_positions(const Context& context) {
  std::vector<Result> results;
  for (int s = 0; s < kStaves; ++s) results.push_back(judge_stave(context, s));
  return results;
}

}  // namespace kivo::quality
