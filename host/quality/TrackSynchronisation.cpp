// Synchronisation by tracks: the tracks of the other three staves matched by
// the stave's clusters of the same event, of the event after (the stave is
// one event late: its clusters of event i match the tracks of event i - 1)
// and of the event before (one event early). One track through three staves
// is a particle, so a handful of them per event judge even a sparse beam,
// where the stave correlations find no peak at any lag.
#include <algorithm>
#include <cmath>

#include "Checks.h"
#include "TrackWindows.h"

namespace kivo::quality {

namespace {

constexpr const char* kCheck = "track_synchronisation";
constexpr std::size_t kLagBefore = 0, kLagSame = 1, kLagAfter = 2;  // of StaveTracks::lags

// Past a ratio limit of lag 0's matches (held: back by kLimitMargin of
// the limit's excess over 1 before it clears).
bool past_ratio(double at_lag, double same, double ratio, bool held) {
  const double limit = held ? 1 + (ratio - 1) * (1 - kLimitMargin) : ratio;
  return at_lag > limit * same;
}

Result judge_window(const TrackSynchronisationConfig& config, const Reading& now, const TrackWindow& window,
                    int stave, Verdict before) {
  Result result{kCheck, stave, kNone, Verdict::Null, "", -1};
  const std::size_t s = static_cast<std::size_t>(stave);
  if (!window.not_judged[s].empty()) {
    result.reason = window.not_judged[s] + "; the synchronisation check judges it by the stave correlations";
    return result;
  }
  const double tracks = window.tracks[s];
  if (tracks < config.min_tracks) {
    result.reason = format("stave %d: %s tracks in %s, %s needed; the synchronisation check judges it by the stave "
                           "correlations",
                           stave, grouped(tracks).c_str(), last_events(window.events).c_str(),
                           grouped(config.min_tracks).c_str());
    return result;
  }
  const StaveTracks& later = stave_tracks(now, stave);
  const StaveTracks* earlier = earlier_tracks(*window.start, stave);
  std::array<double, kTrackLags> lags{};
  for (std::size_t lag = 0; lag < lags.size(); ++lag)
    lags[lag] = later.lags[lag] - (earlier ? earlier->lags[lag] : 0.0);
  const bool late = lags[kLagBefore] >= lags[kLagAfter];
  const double off = late ? lags[kLagBefore] : lags[kLagAfter];
  const double same = lags[kLagSame];
  const double significance = (off - same) / std::sqrt(std::max(1.0, off + same));
  const std::string counts =
      format("%s of %s tracks of the other staves in %s match its clusters of the same event, %s those of the event "
             "after, %s those of the event before",
             grouped(same).c_str(), grouped(tracks).c_str(), last_events(window.events).c_str(),
             grouped(lags[kLagBefore]).c_str(), grouped(lags[kLagAfter]).c_str());
  result.severity = same > 0 ? off / same : off;
  if (off >= config.min_matches && significance >= config.min_significance &&
      past_ratio(off, same, config.medium_ratio, before >= Verdict::Medium)) {
    result.verdict = past_ratio(off, same, config.bad_ratio, before >= Verdict::Bad) ? Verdict::Bad : Verdict::Medium;
    result.reason = format("stave %d is one event %s: ", stave, late ? "late" : "early") + counts;
    return result;
  }
  if (same < config.min_matches) {
    result.reason = format("stave %d: in no step: ", stave) + counts +
                    " (a dead or broken stave: the occupancy and efficiency checks judge it)";
    return result;
  }
  result.verdict = Verdict::Good;
  result.reason = format("stave %d in step: ", stave) + counts;
  return result;
}

}  // namespace

std::vector<Result> judge_track_synchronisation(const Context& context) {
  const Reading& now = context.now;
  if (!now.tracks.present) return {};
  const TrackSynchronisationConfig& config = context.config.track_synchronisation;
  std::vector<Result> results;
  for (int s = 0; s < kStaves; ++s)
    results.push_back({kCheck, s, kNone, Verdict::Null, format("stave %d: ", s) +
                                                             too_few_events(context, config.min_events), -2});
  for (const TrackWindow& window : track_windows(context, config.min_events, config.window_events))
    for (Result& kept : results) {
      keep_worse(kept, judge_window(config, now, window, kept.stave, context.memory.holds.last(kCheck, kept.stave)));
    }
  for (Result& result : results) {
    context.memory.holds.keep(kCheck, result.stave, kNone, 0, result.verdict);
    result.severity = std::max(0.0, result.severity);
  }
  return results;
}

}  // namespace kivo::quality
