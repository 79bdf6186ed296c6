// Stave alignment and synchronisation: the column and row difference
// distributions of staves 0 to 2 against stave 3, in the window. Their peak
// must lie at the expected offset, and a large share of the entries must lie
// near it: when a stave's events no longer belong to the same trigger, its
// per-event mean positions are unrelated to stave 3's and the share
// collapses. Hot pixels pull those means too; when they give a large share
// of a stave's hits the check says so instead of judging.
#include <algorithm>
#include <cmath>

#include "Checks.h"

namespace kivo::quality {

namespace {

constexpr const char* kCheck = "alignment";

// One axis (columns or rows) of one stave.
struct Axis {
  const char* name;
  double near, medium, bad;
  const std::vector<double>& configured;  // expected offsets, or empty
};

struct StaveDifferences {
  double entries = 0;
  std::optional<double> unreliable_share;  // hot-pixel share of hits, when too large
  int unreliable_stave = kNone;
  std::optional<Peak> column, row;
};

double hot_share(const Reading& now, int stave) {
  const double hits = now.map_hits(stave);
  return hits > 0 ? now.staves[static_cast<std::size_t>(stave)].hot.hits / hits : 0;
}

bool enough_entries(const AlignmentConfig& config, const StaveDifferences& differences) {
  return differences.entries >= config.min_events;
}

// The differences of stave `stave` in the window; their peaks only when the
// stave can be judged.
StaveDifferences measure(const Context& context, int stave) {
  const AlignmentConfig& config = context.config.alignment;
  const Reading& now = context.now;
  const Reading& start = context.history.window_start(now, config.window_events, Count::Events);
  const std::size_t index = static_cast<std::size_t>(stave);
  const Bins columns = difference(now.column_differences[index], start.column_differences[index]);
  StaveDifferences differences;
  differences.entries = total(columns);
  for (int s : {stave, kReferenceStave}) {
    const double share = hot_share(now, s);
    if (share > config.max_hot_share && !differences.unreliable_share) {
      differences.unreliable_share = share;
      differences.unreliable_stave = s;
    }
  }
  if (!enough_entries(config, differences) || differences.unreliable_share) return differences;  // no peaks wanted
  differences.column = find_peak(columns, config.near_columns);
  differences.row = find_peak(difference(now.row_differences[index], start.row_differences[index]), config.near_rows);
  return differences;
}

bool judged(const AlignmentConfig& config, const StaveDifferences& differences) {
  return enough_entries(config, differences) && !differences.unreliable_share && differences.column &&
         differences.row;
}

// Where a peak should lie (a range, as precisely as it is known), and why.
struct Expected {
  double position, low, high;
  std::string what;
};

Expected expected_offset(const Axis& axis, int stave, const std::optional<Peak>& reference, const Peak& first) {
  if (!axis.configured.empty()) {
    const double offset = axis.configured[static_cast<std::size_t>(stave)];
    return {offset, offset, offset, "configured"};
  }
  if (reference) return {reference->position, reference->low, reference->high, "reference run"};
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

// The share of entries near the peak that this stave should reach: the best
// of the other judged staves, the reference run and this run's first.
std::pair<double, std::string> expected_share(double own_first, const std::optional<Peak>& reference,
                                              const std::array<std::optional<double>, kDifferenceStaves>& others,
                                              int stave) {
  std::pair<double, std::string> best{own_first, "first judged"};
  if (reference && reference->share > best.first) best = {reference->share, "reference run"};
  for (int o = 0; o < kDifferenceStaves; ++o) {
    const std::optional<double>& share = others[static_cast<std::size_t>(o)];
    if (o != stave && share && *share > best.first) best = {*share, format("stave %d", o)};
  }
  return best;
}

struct AxisJudgement {
  Verdict verdict;
  double severity;
  std::string text;
  bool collapsed;
};

AxisJudgement judge_axis(const AlignmentConfig& config, const Axis& axis, const Peak& peak, const Expected& offset,
                         const std::pair<double, std::string>& share) {
  const double distance = gap(peak.low, peak.high, offset.low, offset.high);
  const double share_ratio = share.first > 0 ? peak.share / share.first : 1;
  const Verdict by_share = judge_limit(share_ratio, config.medium_share_ratio, config.bad_share_ratio, true);
  const Verdict by_distance = judge_limit(distance, axis.medium, axis.bad, false);
  AxisJudgement judgement{worst(by_share, by_distance),
                          std::max(distance / axis.bad, config.bad_share_ratio / std::max(share_ratio, 1e-9)), "",
                          by_share == Verdict::Bad};
  judgement.text = format("%s difference peak ", axis.name) + range_text(peak.position, peak.low, peak.high) + ", " +
                   offset.what + " " + range_text(offset.position, offset.low, offset.high) +
                   format(": %.0f apart; %.0f%% of entries within %g of it (%s %.0f%%)", distance, 100 * peak.share,
                          axis.near, share.second.c_str(), 100 * share.first);
  return judgement;
}

Result judge_stave(const Context& context, int stave, const StaveDifferences& differences,
                   const std::array<std::optional<double>, kDifferenceStaves>& column_shares,
                   const std::array<std::optional<double>, kDifferenceStaves>& row_shares) {
  const AlignmentConfig& config = context.config.alignment;
  const std::size_t index = static_cast<std::size_t>(stave);
  Result result{kCheck, stave, kNone, Verdict::Null, "", 0};
  if (!enough_entries(config, differences)) {
    result.reason = format("stave %d: %.0f events with hits on stave %d and stave %d in the window, %.0f needed", stave,
                           differences.entries, stave, kReferenceStave, config.min_events);
    return result;
  }
  if (differences.unreliable_share) {
    result.reason = format("stave %d: not judged: hot pixels give %.0f%% of stave %d's hits (more than %g%%) and pull "
                           "the per-event mean positions; mask them to judge alignment",
                           stave, 100 * *differences.unreliable_share, differences.unreliable_stave,
                           100 * config.max_hot_share);
    return result;
  }
  if (!differences.column || !differences.row) {
    result.reason = format("stave %d: no entries in its %s differences in the window", stave,
                           differences.column ? "row" : "column");
    return result;
  }
  std::optional<Peak>& first_column = context.memory.first_column_peak[index];
  std::optional<Peak>& first_row = context.memory.first_row_peak[index];
  if (!first_column) first_column = differences.column;
  if (!first_row) first_row = differences.row;
  const ReferenceRun* reference = context.reference;
  const std::optional<Peak> reference_column =
      reference ? find_peak(reference->column_differences[index], config.near_columns) : std::nullopt;
  const std::optional<Peak> reference_row =
      reference ? find_peak(reference->row_differences[index], config.near_rows) : std::nullopt;
  const Axis columns{"column", config.near_columns, config.medium_columns, config.bad_columns, config.expected_columns};
  const Axis rows{"row", config.near_rows, config.medium_rows, config.bad_rows, config.expected_rows};
  const AxisJudgement column = judge_axis(config, columns, *differences.column,
                                          expected_offset(columns, stave, reference_column, *first_column),
                                          expected_share(first_column->share, reference_column, column_shares, stave));
  const AxisJudgement row = judge_axis(config, rows, *differences.row,
                                       expected_offset(rows, stave, reference_row, *first_row),
                                       expected_share(first_row->share, reference_row, row_shares, stave));
  result.verdict = worst(column.verdict, row.verdict);
  result.severity = std::max(column.severity, row.severity);
  const std::string lost = column.collapsed || row.collapsed
                               ? format("; its events no longer belong to the same trigger as stave %d's", kReferenceStave)
                               : "";
  result.reason = format("stave %d: ", stave) + column.text + "; " + row.text + lost;
  return result;
}

}  // namespace

std::vector<Result> judge_alignment(const Context& context) {
  const AlignmentConfig& config = context.config.alignment;
  std::array<StaveDifferences, kDifferenceStaves> differences;
  std::array<std::optional<double>, kDifferenceStaves> column_shares, row_shares;
  for (int s = 0; s < kDifferenceStaves; ++s) {
    const std::size_t index = static_cast<std::size_t>(s);
    differences[index] = measure(context, s);
    if (!judged(config, differences[index])) continue;
    column_shares[index] = differences[index].column->share;
    row_shares[index] = differences[index].row->share;
  }
  std::vector<Result> results;
  for (int s = 0; s < kDifferenceStaves; ++s)
    results.push_back(judge_stave(context, s, differences[static_cast<std::size_t>(s)], column_shares, row_shares));
  return results;
}

}  // namespace kivo::quality
