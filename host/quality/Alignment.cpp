// Stave alignment: where the difference peaks of staves 0 to 2 against stave
// 3 lie, in the same event, with hot pixels left out. An axis is placed only
// while its peak in the same event stands out from the differences one and
// two events apart: a stave out of step, a dead stave or heavy noise leave no
// peak to place (the synchronisation check tells them apart). The peak is
// compared with the configured offset, or with the first peak placed in this
// run since the masks last changed. The reference run's distributions are
// not used: they hold the hits of its own hot pixels, which pull its peaks.
#include <algorithm>
#include <cmath>

#include "Checks.h"
#include "LagDifferences.h"

namespace kivo::quality {

namespace {

constexpr const char* kCheck = "alignment";

// One axis (columns or rows) of one stave.
struct Axis {
  int index;
  double medium, bad;
  const std::vector<double>& configured;  // expected offsets, or empty
};

// Where a peak should lie (a range, as precisely as it is known), and why.
struct Expected {
  double position, low, high;
  std::string what;
};

Expected expected_offset(const Axis& axis, int stave, const Peak& first) {
  if (!axis.configured.empty()) {
    const double offset = axis.configured[static_cast<std::size_t>(stave)];
    return {offset, offset, offset, "configured"};
  }
  return {first.position, first.low, first.high, "first judged"};
}

// How far apart two ranges lie; 0 when they overlap.
double gap(double low_a, double high_a, double low_b, double high_b) {
  return std::max({0.0, low_a - high_b, low_b - high_a});
}

std::string range_text(double position, double low, double high) {
  if (high - low < 1) return format("%+.0f", position);
  return format("%+.0f (%+.0f to %+.0f)", position, low, high);
}

struct AxisJudgement {
  Verdict verdict = Verdict::Null;
  double severity = 0;
  std::string text;
};

// `before`: the axis's verdict at the last judgement, whose limit holds.
AxisJudgement judge_placed(const Axis& axis, const Peak& peak, const Expected& offset, Verdict before) {
  const double distance = gap(peak.low, peak.high, offset.low, offset.high);
  return {judge_limit_held(distance, axis.medium, axis.bad, false, before), distance / axis.bad,
          format("%s difference peak ", axis_name(axis.index)) + range_text(peak.position, peak.low, peak.high) +
              ", " + offset.what + " " + range_text(offset.position, offset.low, offset.high) +
              format(": %.0f apart", distance)};
}

std::string unplaced(const LagAxis& lags, int axis) {
  if (lags.stands_out)
    return format("%s differences not judged: their peak is at lag %+d, not in the same event", axis_name(axis),
                  lags.best);
  return format("%s differences not judged: no peak stands out (%.0f%% of entries near the densest place in the "
                "same event, %.0f%% at the median lag)",
                axis_name(axis), 100 * lags.share(0), 100 * lags.share(lags.median));
}

std::string window_text(const LagPair& pair) {
  return pair.since_mask ? format(" (counted since the hot-pixel mask changed at event %.0f)", pair.masked_since) : "";
}

Result judge_stave(const Context& context, int stave) {
  const AlignmentConfig& config = context.config.alignment;
  const LagSettings settings{config.window_events, config.near_columns, config.near_rows, config.peak_ratio,
                             config.min_significance, true, true, config.min_events};
  const LagPair pair = measure_lags(context, stave, kReferenceStave, settings);
  Result result{kCheck, stave, kNone, Verdict::Null, "", 0};
  if (pair.entries < config.min_events) {
    result.reason = format("stave %d: %.0f events with hits on stave %d and stave %d in the window, %.0f needed", stave,
                           pair.entries, stave, kReferenceStave, config.min_events) +
                    window_text(pair);
    return result;
  }
  const std::size_t index = static_cast<std::size_t>(stave);
  RunMemory& memory = context.memory;
  if (memory.first_peaks_masked_since[index] != pair.masked_since) {
    memory.first_peaks_masked_since[index] = pair.masked_since;
    memory.first_column_peak[index].reset();
    memory.first_row_peak[index].reset();
  }
  const Axis axes[2] = {{kColumnAxis, config.medium_columns, config.bad_columns, config.expected_columns},
                        {kRowAxis, config.medium_rows, config.bad_rows, config.expected_rows}};
  std::optional<Peak>* firsts[2] = {&memory.first_column_peak[index], &memory.first_row_peak[index]};
  std::vector<std::string> texts;
  bool placed = false;
  LimitHolds& holds = memory.holds;
  for (const Axis& axis : axes) {
    const LagAxis& lags = pair.axes[static_cast<std::size_t>(axis.index)];
    if (!lags.stands_out || lags.best != 0 || !lags.same_event) {
      holds.keep(kCheck, stave, kNone, axis.index, Verdict::Good);
      texts.push_back(unplaced(lags, axis.index));
      continue;
    }
    std::optional<Peak>& first = *firsts[axis.index];
    if (!first) first = lags.same_event;
    const AxisJudgement judgement = judge_placed(axis, *lags.same_event, expected_offset(axis, stave, *first),
                                                 holds.last(kCheck, stave, kNone, axis.index));
    holds.keep(kCheck, stave, kNone, axis.index, judgement.verdict);
    result.verdict = worst(result.verdict, judgement.verdict);
    result.severity = std::max(result.severity, judgement.severity);
    texts.insert(texts.begin() + (placed ? 1 : 0), judgement.text);
    placed = true;
  }
  result.reason = format("stave %d: ", stave) + texts[0] + "; " + texts[1] + window_text(pair);
  return result;
}

}  // namespace

std::vector<Result> judge_alignment(const Context& context) {
  std::vector<Result> results;
  for (int s = 0; s < kDifferenceStaves; ++s) results.push_back(judge_stave(context, s));
  return results;
}

}  // namespace kivo::quality
