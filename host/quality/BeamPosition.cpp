// Beam position: each stave's fitted beam position and width against the
// reference run's, or against the first position judged in this run.
#include <algorithm>
#include <cmath>

#include "Checks.h"

namespace kivo::quality {

namespace {

constexpr const char* kCheck = "beam_position";

double width_ratio(double now, double then) {
  const double a = std::fabs(now), b = std::fabs(then);
  if (a == b) return 1;
  if (std::min(a, b) <= 0) return HUGE_VAL;
  return std::max(a, b) / std::min(a, b);
}

std::string describe(const BeamFit& beam) {
  return format("column %.0f, row %.0f (widths %.0f and %.0f)", beam.column, beam.row, std::fabs(beam.column_width),
                std::fabs(beam.row_width));
}

Result compare(const BeamPositionConfig& config, int stave, const BeamFit& beam, const BeamFit& against,
               const std::string& against_what) {
  const double columns = std::fabs(beam.column - against.column);
  const double rows = std::fabs(beam.row - against.row);
  const double widths = std::max(width_ratio(beam.column_width, against.column_width),
                                 width_ratio(beam.row_width, against.row_width));
  Verdict verdict = judge_limit(columns, config.medium_columns, config.bad_columns, false);
  verdict = worst(verdict, judge_limit(rows, config.medium_rows, config.bad_rows, false));
  verdict = worst(verdict, judge_limit(widths, config.medium_width_ratio, config.bad_width_ratio, false));
  const double severity = std::max({columns / config.bad_columns, rows / config.bad_rows, widths / config.bad_width_ratio});
  const std::string reason = format("stave %d: beam at ", stave) + describe(beam) + "; " + against_what + " " +
                             describe(against) + format(": moved %.0f columns and %.0f rows, widths changed up to %.2f times",
                                                        columns, rows, widths);
  return {kCheck, stave, kNone, verdict, reason, severity};
}

}  // namespace

std::vector<Result> judge_beam_positions(const Context& context) {
  const BeamPositionConfig& config = context.config.beam_position;
  const double events = context.now.events;
  std::vector<Result> results;
  for (int s = 0; s < kStaves; ++s) {
    const std::size_t index = static_cast<std::size_t>(s);
    const std::optional<BeamFit>& beam = context.now.staves[index].beam;
    if (events < config.min_events || !beam) {
      const std::string why = events < config.min_events ? format("%.0f events so far, %.0f needed", events, config.min_events)
                                                         : std::string("no beam fitted (no hits)");
      results.push_back({kCheck, s, kNone, Verdict::Null, format("stave %d: ", s) + why, 0});
      continue;
    }
    std::optional<BeamFit>& first = context.memory.first_beam[index];
    if (!first) first = beam;
    const std::optional<BeamFit>* reference = context.reference ? &context.reference->beam[index] : nullptr;
    if (reference && *reference)
      results.push_back(compare(config, s, *beam, **reference, "the reference run's at"));
    else
      results.push_back(compare(config, s, *beam, *first, "first judged in this run at"));
  }
  return results;
}

}  // namespace kivo::quality
