// Residuals: where a stave's clusters lie around the tracks of the other
// three, and where its hits went when the tracks found none.
//
// Per stave: its position (the offset in use plus the mean residual) against
// the run's earlier stretches, so that a stave that moved is named even when
// the move is small; a jump beyond the road, which the alignment does not
// follow, directly; and the width of the residuals against their earlier
// width. Per chip: "hits found elsewhere", tracks with no cluster where they
// point while the same events have clusters of the stave at the same place
// of another chip (swapped cables), at the mirrored column (columns read in
// reverse) or a power of two of columns away (a column address bit stuck).
// Such pairs happen by chance too; a move is named when the pairs at its
// place stand out from those around it.
#include <gsl/gsl_sf_gamma.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <tuple>

#include "Checks.h"
#include "TrackLeverage.h"
#include "TrackWindows.h"

namespace kivo::quality {

namespace {

constexpr const char* kCheck = "residuals";
// A displaced stave whose tracks still find this share of the clusters they
// found before is in place.
constexpr double kStillMatching = 0.5;

// The cells of one block of hmoved_cells (the predicted cells of one chip
// against the cluster cells of one chip) at the places of each move.
struct BlockCells {
  double same_place = 0, other_place = 0;  // two different chips
  double mirrored = 0, not_mirrored = 0;   // within one chip, away from the prediction
};

BlockCells block_cells() {
  BlockCells cells;
  for (int at = 0; at < kChipCellsX; ++at)
    for (int to = 0; to < kChipCellsX; ++to) {
      const bool same_place = std::abs(to - at) <= 1;
      (same_place ? cells.same_place : cells.other_place) += 1;
      if (!same_place) (std::abs(to - (kChipCellsX - 1 - at)) <= 1 ? cells.mirrored : cells.not_mirrored) += 1;
    }
  return cells;
}

// Poisson probability of at least `count` where `expected` are expected.
double above(double count, double expected) {
  if (count <= 0) return 1;
  return gsl_sf_gamma_inc_P(count, std::max(expected, 1e-9));
}

// One kind of move of a chip's hits in a window: the pairs at its place and
// what chance would put there.
struct Move {
  std::string where;    // "at the same place on chip 5"
  std::string because;  // "cables of chips 3 and 5 swapped?"
  double pairs = 0, chance = 0;
  double signal() const { return pairs - chance; }
};

std::vector<Move> moves_of(const MovedPairs& now, const MovedPairs* before, int chip, double matching_radius) {
  static const BlockCells cells = block_cells();
  const auto diff = [](double later, double earlier) { return later - earlier; };
  std::vector<Move> moves;
  for (int to = 0; to < kChips; ++to) {
    if (to == chip) continue;
    const std::size_t t = static_cast<std::size_t>(to);
    const double same = diff(now.same_place[t], before ? before->same_place[t] : 0);
    const double other = diff(now.other_place[t], before ? before->other_place[t] : 0);
    moves.push_back({format("at the same place on chip %d", to),
                     format("cables of chips %d and %d swapped?", std::min(chip, to), std::max(chip, to)), same,
                     other * cells.same_place / cells.other_place});
  }
  const double mirrored = diff(now.mirrored, before ? before->mirrored : 0);
  const double not_mirrored = diff(now.not_mirrored, before ? before->not_mirrored : 0);
  moves.push_back({"at the mirrored column of the chip (1023 minus theirs)", "its columns read in reverse?", mirrored,
                   not_mirrored * cells.mirrored / cells.not_mirrored});
  const double side_share = (2.0 * kMoveTolerance + 1) / (4.0 * kBitSideWidth);
  for (int k = 0; k < kColumnBits; ++k) {
    if ((1 << k) <= matching_radius + kMoveTolerance) continue;  // such clusters still match
    for (const bool higher : {false, true}) {
      const std::size_t index = static_cast<std::size_t>(higher ? kColumnBits + k : k);
      const double pairs = diff(now.bit_moved[index], before ? before->bit_moved[index] : 0);
      const double side = diff(now.bit_side[index], before ? before->bit_side[index] : 0);
      moves.push_back({format("%d columns %s", 1 << k, higher ? "higher" : "lower"),
                       format("column address bit %d stuck at %d?", k, higher ? 1 : 0), pairs, side * side_share});
    }
  }
  return moves;
}

// The chip's hits found elsewhere in one window.
Result judge_moved(const Context& context, const TrackWindow& window, int stave, int chip, Verdict before) {
  const ResidualsConfig& config = context.config.residuals;
  Result result{kCheck, stave, chip, Verdict::Null, "", -1};
  const StaveTracks& now = stave_tracks(context.now, stave);
  const StaveTracks* earlier = earlier_tracks(*window.start, stave);
  const CellRegion whole{chip * kChipCellsX, (chip + 1) * kChipCellsX - 1, 0, kTrackCellsY - 1};
  const TrackCounts counts = counts_in(now, earlier, whole);
  if (counts.total < config.min_tracks) {
    result.reason = format("stave %d, chip %d: %s tracks in %s, %s needed to look for its hits elsewhere", stave,
                           chip, grouped(counts.total).c_str(), last_events(window.events).c_str(),
                           grouped(config.min_tracks).c_str());
    return result;
  }
  const std::size_t c = static_cast<std::size_t>(chip);
  const std::vector<Move> moves =
      moves_of(now.moved[c], earlier ? &earlier->moved[c] : nullptr, chip, context.config.tracking.matching_radius);
  const Move* best = nullptr;
  for (const Move& move : moves)
    if (move.pairs >= config.min_pairs && above(move.pairs, move.chance) < config.moved_p &&
        (!best || move.signal() > best->signal()))
      best = &move;
  const double unmatched = counts.total - counts.matched;
  result.verdict = Verdict::Good;
  result.severity = 0;
  if (!best) {
    result.reason = format("stave %d, chip %d: no hits found elsewhere (%s of %s tracks in %s found no cluster where "
                           "they point)",
                           stave, chip, grouped(unmatched).c_str(), grouped(counts.total).c_str(),
                           last_events(window.events).c_str());
    return result;
  }
  // A track may pair with more than one cluster: no more tracks are explained than went unmatched.
  const double explained = std::min(best->signal(), unmatched);
  const double share = explained / counts.total;
  const double margin = 1 - kLimitMargin;
  const double medium = config.medium_moved_share * (before >= Verdict::Medium ? margin : 1);
  const double bad = config.bad_moved_share * (before >= Verdict::Bad ? margin : 1);
  result.verdict = share >= bad ? Verdict::Bad : share >= medium ? Verdict::Medium : Verdict::Good;
  result.severity = share;
  result.reason = format("stave %d, chip %d: %s of %s tracks (%.1f%%) in %s found no cluster where they point but one "
                         "%s (%s)",
                         stave, chip, grouped(explained).c_str(), grouped(counts.total).c_str(), 100 * share,
                         last_events(window.events).c_str(), best->where.c_str(), best->because.c_str());
  return result;
}

// The position of a stave: its offset in use plus the mean residual.
struct Position {
  double columns = 0, rows = 0;
  double columns_error = 0, rows_error = 0;
  double columns_width = 0, rows_width = 0;
  double matches = 0;
};

ResidualSums between(const ResidualSums& later, const ResidualSums* earlier) {
  if (!earlier) return later;
  return {later.entries - earlier->entries, later.sum - earlier->sum, later.sum2 - earlier->sum2};
}

Position position_of(const tracking::StaveAlignment& alignment, const ResidualSums& columns, const ResidualSums& rows) {
  Position p;
  p.matches = columns.entries;
  p.columns = alignment.columns + columns.mean();
  p.rows = alignment.rows + rows.mean();
  p.columns_width = columns.rms();
  p.rows_width = rows.rms();
  p.columns_error = columns.entries > 0 ? p.columns_width / std::sqrt(columns.entries) : 0;
  p.rows_error = rows.entries > 0 ? p.rows_width / std::sqrt(rows.entries) : 0;
  return p;
}

// Past `limit` or, when the verdict was already past it, past it less the margin.
bool beyond(double value, double limit, bool held) { return value > (held ? limit * (1 - kLimitMargin) : limit); }

// Whether the tracks for a stave the alignment calls displaced still find
// its clusters: then it is in place and the correlation misled. Its reason
// when so.
std::optional<std::string> still_in_place(const Context& context, const TrackWindow& window, int stave) {
  const ResidualsConfig& config = context.config.residuals;
  const StaveTracks& now = stave_tracks(context.now, stave);
  const tracking::StaveAlignment& a = now.alignment;
  const CellRegion all{0, kTrackCellsX - 1, 0, kTrackCellsY - 1};
  const StaveTracks* earlier = earlier_tracks(*window.start, stave);
  const TrackCounts recent = counts_in(now, earlier, all);
  const TrackCounts before_window = earlier ? counts_in(*earlier, nullptr, all) : TrackCounts{};
  const double level = before_window.total >= config.min_matches ? before_window.matched / before_window.total : 1;
  if (recent.total < config.min_pairs || recent.matched < kStillMatching * level * recent.total) return std::nullopt;
  return format("stave %d in place: its correlation with stave 3 peaks %+.1f columns and %+.1f rows away lately, but "
                "%s of %s tracks in %s find its clusters where they point",
                stave, a.peak_columns - a.columns, a.peak_rows - a.rows, grouped(recent.matched).c_str(),
                grouped(recent.total).c_str(), last_events(window.events).c_str());
}

Verdict shift_verdict(const ResidualsConfig& config, double move, Verdict before) {
  return beyond(move, config.bad_shift, before >= Verdict::Bad)         ? Verdict::Bad
         : beyond(move, config.medium_shift, before >= Verdict::Medium) ? Verdict::Medium
                                                                        : Verdict::Good;
}

// A stave the alignment calls displaced: the recent correlation with stave 3
// peaks away from the offset in use, which does not follow a jump. A move
// beyond the road leaves the tracks for the stave unmatched (or, when the
// staves its tracks need moved, leaves no tracks).
Result judge_displaced(const Context& context, const TrackWindow& window, int stave, Verdict before) {
  const tracking::StaveAlignment& a = stave_tracks(context.now, stave).alignment;
  const double columns = a.peak_columns - a.columns, rows = a.peak_rows - a.rows;
  const double move = std::max(std::fabs(columns), std::fabs(rows));
  if (std::optional<std::string> in_place = still_in_place(context, window, stave))
    return {kCheck, stave, kNone, Verdict::Good, std::move(*in_place), 0};
  const CellRegion all{0, kTrackCellsX - 1, 0, kTrackCellsY - 1};
  const TrackCounts recent =
      counts_in(stave_tracks(context.now, stave), earlier_tracks(*window.start, stave), all);
  return {kCheck, stave, kNone, shift_verdict(context.config.residuals, move, before),
          format("stave %d moved: its hits match those of the other staves %+.1f columns and %+.1f rows from where "
                 "they did (offset to stave 3 %.1f, %.1f; now %.1f, %.1f) since event %s; %s of %s tracks for it in "
                 "%s find a cluster where they point",
                 stave, columns, rows, a.columns, a.rows, a.peak_columns, a.peak_rows,
                 grouped(a.displaced_since_event).c_str(), grouped(recent.matched).c_str(),
                 grouped(recent.total).c_str(), last_events(window.events).c_str()),
          move};
}

// Stave 3, the one the offsets are measured to, moved (or the cables of its
// chips in the beam were swapped) when the three others are all displaced,
// their tracks finding none of their clusters, and two or three of them by
// the same amount: stave 3's hits moved by the opposite of it. A third
// displaced by another amount moved too (by the difference): two staves
// swapped with stave 3 show so.
struct ReferenceMove {
  double columns = 0, rows = 0;  // of stave 3's hits
  double since_event = 0;
  int other = -1;                // a stave that moved besides, by
  double other_columns = 0, other_rows = 0;
};

std::optional<ReferenceMove> reference_moved(const Context& context, const TrackWindow& window) {
  std::array<std::pair<double, double>, kStaves> shifts{};  // peak - offset, columns and rows
  double since = 0;
  for (int s = 0; s < kStaves; ++s) {
    if (s == kReferenceStave) continue;
    const tracking::StaveAlignment& a = stave_tracks(context.now, s).alignment;
    if (a.state != tracking::AlignmentState::displaced || still_in_place(context, window, s)) return std::nullopt;
    shifts[static_cast<std::size_t>(s)] = {a.peak_columns - a.columns, a.peak_rows - a.rows};
    since = s == 0 ? a.displaced_since_event : std::min(since, a.displaced_since_event);
  }
  const auto agree = [&](int i, int j) {
    const auto& [ci, ri] = shifts[static_cast<std::size_t>(i)];
    const auto& [cj, rj] = shifts[static_cast<std::size_t>(j)];
    const double slack = 2 * context.config.residuals.medium_shift + 0.02 * std::max(std::fabs(ci), std::fabs(ri));
    return std::fabs(ci - cj) <= slack && std::fabs(ri - rj) <= slack;
  };
  for (int odd = kStaves - 1; odd >= 0; --odd) {  // odd == 3: all three agree
    std::vector<int> same;
    for (int s = 0; s < kStaves; ++s)
      if (s != kReferenceStave && s != odd) same.push_back(s);
    bool agreeing = true;
    for (std::size_t i = 1; i < same.size(); ++i) agreeing = agreeing && agree(same.front(), same[i]);
    if (!agreeing) continue;
    ReferenceMove move;
    for (int s : same) {
      move.columns -= shifts[static_cast<std::size_t>(s)].first / static_cast<double>(same.size());
      move.rows -= shifts[static_cast<std::size_t>(s)].second / static_cast<double>(same.size());
    }
    move.since_event = since;
    if (odd != kReferenceStave) {
      move.other = odd;
      move.other_columns = shifts[static_cast<std::size_t>(odd)].first + move.columns;
      move.other_rows = shifts[static_cast<std::size_t>(odd)].second + move.rows;
    }
    return move;
  }
  return std::nullopt;
}

Result judge_reference_move(const Context& context, const ReferenceMove& move, int stave, Verdict before) {
  const ResidualsConfig& config = context.config.residuals;
  const double size = std::max(std::fabs(move.columns), std::fabs(move.rows));
  if (stave == kReferenceStave)
    return {kCheck, stave, kNone, shift_verdict(config, size, before),
            format("stave 3 moved: its hits lie %+.1f columns and %+.1f rows from where they did against those of "
                   "the other staves since about event %s (the stave moved, or the cables of its chips in the beam "
                   "were swapped: the efficiency check names the chips)",
                   move.columns, move.rows, grouped(move.since_event).c_str()),
            size};
  if (stave == move.other) {
    const double own = std::max(std::fabs(move.other_columns), std::fabs(move.other_rows));
    if (std::fabs(move.other_columns + move.columns) <= 2 * config.medium_shift &&
        std::fabs(move.other_rows + move.rows) <= 2 * config.medium_shift)
      return {kCheck, stave, kNone, shift_verdict(config, own, before),
              format("stave %d moved: its hits lie %+.1f columns and %+.1f rows from where they did, as far as stave "
                     "3's the other way, since about event %s (staves %d and 3 swapped?)",
                     stave, move.other_columns, move.other_rows, grouped(move.since_event).c_str(), stave),
              own};
    // Two moves at once that are not a swap: more likely a correlation of
    // stave 3 with two peaks (its beam split over two chips whose cables
    // were swapped) than a second stave moving too.
    return {kCheck, stave, kNone, Verdict::Null,
            format("stave %d: not judged: its hits lie %+.1f columns and %+.1f rows from where they did against stave "
                   "3's since about event %s, those of the other two %+.1f and %+.1f: stave 3 moved (stave 3 is "
                   "judged)",
                   stave, move.other_columns - move.columns, move.other_rows - move.rows,
                   grouped(move.since_event).c_str(), -move.columns, -move.rows),
            -1};
  }
  return {kCheck, stave, kNone, Verdict::Null,
          format("stave %d: not judged: its hits lie %+.1f columns and %+.1f rows from where they did against stave "
                 "3's since about event %s, as do those of the other staves: stave 3 moved (stave 3 is judged)",
                 stave, -move.columns, -move.rows, grouped(move.since_event).c_str()),
          -1};
}

// The staves other than `culprit`'s whose residuals widened with it: "staves 0 and 3".
std::string widened_with(const Widening& culprit, double limit) {
  std::vector<int> staves;
  for (int s = 0; s < kStaves; ++s)
    if (s != culprit.stave && culprit.ratio[static_cast<std::size_t>(s)] > limit) staves.push_back(s);
  if (staves.empty()) return "";
  std::string names = staves.size() == 1 ? "stave " : "staves ";
  for (std::size_t i = 0; i < staves.size(); ++i)
    names += (i == 0 ? "" : i + 1 == staves.size() ? " and " : ", ") + std::to_string(staves[i]);
  return names;
}

// The stave's position and width in one window against the stretch before
// it; a widening that `culprit`'s clusters explain is not this stave's.
Result judge_position(const Context& context, const TrackWindow& window, int stave, Verdict before,
                      const std::optional<Widening>& culprit) {
  const ResidualsConfig& config = context.config.residuals;
  Result result{kCheck, stave, kNone, Verdict::Null, "", -1};
  const StaveTracks& now = stave_tracks(context.now, stave);
  const StaveTracks* earlier = earlier_tracks(*window.start, stave);
  const Position recent =
      position_of(now.alignment, between(now.columns, earlier ? &earlier->columns : nullptr),
                  between(now.rows, earlier ? &earlier->rows : nullptr));
  if (recent.matches < config.min_matches) {
    result.reason = format("stave %d: %s matches in %s, %s needed", stave, grouped(recent.matches).c_str(),
                           last_events(window.events).c_str(), grouped(config.min_matches).c_str());
    return result;
  }
  if (!earlier || earlier->columns.entries < config.min_matches) {
    result.verdict = Verdict::Good;
    result.severity = 0;
    result.reason = format("stave %d: residuals %.2f columns, %.2f rows wide in %s; nothing earlier to compare with",
                           stave, recent.columns_width, recent.rows_width, last_events(window.events).c_str());
    return result;
  }
  const Position past = position_of(earlier->alignment, earlier->columns, earlier->rows);
  const double columns = recent.columns - past.columns, rows = recent.rows - past.rows;
  const auto significant = [&](double shift, double a, double b) {
    return std::fabs(shift) >= config.min_shift_significance * std::hypot(a, b);
  };
  const double move = std::max(significant(columns, recent.columns_error, past.columns_error) ? std::fabs(columns) : 0,
                               significant(rows, recent.rows_error, past.rows_error) ? std::fabs(rows) : 0);
  // Widths against the stretches of the run the check takes as its
  // expectation, which a widening that lasts never enters.
  const StaveTracks& expected = context.memory.residuals[static_cast<std::size_t>(stave)].counts();
  const bool expectation = expected.columns.entries >= config.min_matches;
  const double columns_width = expectation ? expected.columns.rms() : recent.columns_width;
  const double rows_width = expectation ? expected.rows.rms() : recent.rows_width;
  const auto ratio = [](double a, double b) { return b > 0 ? a / b : 1; };
  const double widening = std::max(ratio(recent.columns_width, columns_width), ratio(recent.rows_width, rows_width));
  const Verdict moved = beyond(move, config.bad_shift, before >= Verdict::Bad)         ? Verdict::Bad
                        : beyond(move, config.medium_shift, before >= Verdict::Medium) ? Verdict::Medium
                                                                                       : Verdict::Good;
  const bool explained_elsewhere = culprit && culprit->stave != stave;
  const Verdict wider = explained_elsewhere                                                ? Verdict::Good
                        : beyond(widening, config.bad_width_ratio, before >= Verdict::Bad) ? Verdict::Bad
                        : beyond(widening, config.medium_width_ratio, before >= Verdict::Medium)
                            ? Verdict::Medium
                            : Verdict::Good;
  result.verdict = worst(moved, wider);
  result.severity = std::max(move / config.medium_shift, widening / config.medium_width_ratio);
  const std::string numbers = format("the stave at %+.2f columns, %+.2f rows from stave 3, residuals %.2f columns, "
                                     "%.2f rows wide in %s; earlier %+.2f, %+.2f and %.2f, %.2f",
                                     recent.columns, recent.rows, recent.columns_width, recent.rows_width,
                                     last_events(window.events).c_str(), past.columns, past.rows, columns_width,
                                     rows_width);
  if (moved >= Verdict::Medium) {
    result.reason = format("stave %d moved by %+.1f columns, %+.1f rows: ", stave, columns, rows) + numbers;
  } else if (wider >= Verdict::Medium) {
    result.reason = format("stave %d: residuals %.1f times as wide as earlier: ", stave, widening) + numbers;
    const std::string others = culprit ? widened_with(*culprit, config.medium_width_ratio) : "";
    if (!others.empty())
      result.reason += format("; its clusters lie off the tracks, and the residuals of %s, whose tracks it helps "
                              "make, widen with it",
                              others.c_str());
  } else if (explained_elsewhere && widening > config.medium_width_ratio) {
    result.severity = 0;
    result.reason = format("stave %d: residuals %.1f times as wide as earlier, as stave %d's clusters lying off the "
                           "tracks make them (stave %d is judged): ",
                           stave, widening, culprit->stave, culprit->stave) +
                    numbers;
  } else {
    result.reason = format("stave %d in place: ", stave) + numbers;
  }
  return result;
}

Result judge_stave(const Context& context, const TrackWindow& window, int stave, Verdict before,
                   const std::optional<Widening>& culprit) {
  const tracking::StaveAlignment& alignment = stave_tracks(context.now, stave).alignment;
  switch (alignment.state) {
    case tracking::AlignmentState::searching:
      return {kCheck, stave, kNone, Verdict::Null, format("stave %d: not aligned to the other staves yet", stave), -1};
    case tracking::AlignmentState::silent:
      return {kCheck, stave, kNone, Verdict::Null,
              format("stave %d: its hits no longer go with the other staves' (dead, late or broken: the occupancy, "
                     "synchronisation and track_synchronisation checks judge it)",
                     stave),
              -1};
    case tracking::AlignmentState::displaced:
      return judge_displaced(context, window, stave, before);
    case tracking::AlignmentState::aligned:
      break;
  }
  const std::string& not_judged = window.not_judged[static_cast<std::size_t>(stave)];
  if (!not_judged.empty()) return {kCheck, stave, kNone, Verdict::Null, not_judged, -1};
  return judge_position(context, window, stave, before, culprit);
}

}  // namespace

std::vector<Result> judge_residuals(const Context& context) {
  const Reading& now = context.now;
  if (!now.tracks.present) return {};
  const ResidualsConfig& config = context.config.residuals;
  RunMemory& memory = context.memory;
  for (int s = 0; s < kStaves; ++s)
    memory.residuals[static_cast<std::size_t>(s)].advance(context.history, now, s, config.window_events);
  std::vector<Result> results;
  for (int s = 0; s < kStaves; ++s) {
    const std::string waiting = too_few_events(context, config.min_events);
    results.push_back({kCheck, s, kNone, Verdict::Null, format("stave %d: ", s) + waiting, -2});
    for (int chip = 0; chip < kChips; ++chip)
      results.push_back({kCheck, s, chip, Verdict::Null, format("stave %d, chip %d: ", s, chip) + waiting, -2});
  }
  for (const TrackWindow& window : track_windows(context, config.min_events, config.window_events)) {
    const std::optional<Widening> culprit = widening_culprit(context, window);
    const std::optional<ReferenceMove> reference = reference_moved(context, window);
    for (Result& kept : results) {
      const std::size_t s = static_cast<std::size_t>(kept.stave);
      if (kept.chip == kNone) {
        const Verdict before = memory.holds.last(kCheck, kept.stave);
        keep_worse(kept, reference ? judge_reference_move(context, *reference, kept.stave, before)
                                   : judge_stave(context, window, kept.stave, before, culprit));
      } else if (!window.not_judged[s].empty()) {
        keep_worse(kept, {kCheck, kept.stave, kept.chip, Verdict::Null, window.not_judged[s], -1});
      } else {
        Result moved = judge_moved(context, window, kept.stave, kept.chip, memory.holds.last(kCheck, kept.stave, kept.chip));
        if (culprit && culprit->stave != kept.stave && moved.verdict >= Verdict::Medium) {
          moved.verdict = Verdict::Good;
          moved.reason += format(", as stave %d's clusters lying off the tracks make them (stave %d is judged)",
                                 culprit->stave, culprit->stave);
        }
        keep_worse(kept, std::move(moved));
      }
    }
  }
  // A stave whose clusters lie off the tracks widens the residuals of the
  // others too: while any is flagged, no stave's expectation takes in more.
  bool flagged = false;
  for (Result& result : results) {
    memory.holds.keep(kCheck, result.stave, result.chip, 0, result.verdict);
    result.severity = std::max(0.0, result.severity);
    flagged = flagged || (result.chip == kNone && result.verdict >= Verdict::Medium);
  }
  if (flagged)
    for (TrackBaseline& expected : memory.residuals) expected.flag(now.events);
  return results;
}

}  // namespace kivo::quality
