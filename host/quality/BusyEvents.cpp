// Busy events: events with far more hits on a stave than the run's
// distribution of hits per event there (noise bursts), told apart by the
// monitor while it fills the hits. The other checks leave them out; this
// one counts them in the recent window, per stave, so that an operator
// learns of the bursts and of the stave they come from.
#include "Checks.h"

namespace kivo::quality {

namespace {

constexpr const char* kCheck = "busy_events";
// Fewer busy events than this in the window never count, whatever their share.
constexpr double kLeastEvents = 3;

std::string threshold_text(const BusyEvents& busy) {
  return busy.threshold > 0 ? format("more than %.0f hits", busy.threshold)
                            : std::string("more hits than the run's distribution allows");
}

Result judge_stave(const Context& context, int stave) {
  const BusyEventConfig& config = context.config.busy_events;
  const Reading& now = context.now;
  const Reading& start = context.history.window_start(now, config.window_events, Count::Events);
  const std::size_t index = static_cast<std::size_t>(stave);
  const BusyEvents& busy = now.staves[index].busy;
  const double events = now.events - start.events;
  Result result{kCheck, stave, kNone, Verdict::Null, "", 0};
  if (events < config.min_events) {
    result.reason = format("stave %d: %.0f events in the window, %.0f needed", stave, events, config.min_events);
    return result;
  }
  const double bursts = busy.events - start.staves[index].busy.events;
  const double share = bursts / events;
  LimitHolds& holds = context.memory.holds;
  result.verdict = bursts < kLeastEvents ? Verdict::Good
                                         : judge_limit_held(share, config.medium_share, config.bad_share, false,
                                                            holds.last(kCheck, stave));
  holds.keep(kCheck, stave, kNone, 0, result.verdict);
  result.severity = share;
  if (bursts > 0)
    result.reason = format("stave %d: noise bursts: %.0f event%s of the last %.0f with ", stave, bursts,
                           bursts == 1 ? "" : "s", events) +
                    threshold_text(busy) + format(" on stave %d (%.1f%%; the largest of the run %.0f hits), left "
                                                  "out of the other checks",
                                                  stave, 100 * share, busy.most);
  else
    result.reason = format("stave %d: no busy events in the last %.0f events (busy: ", stave, events) +
                    threshold_text(busy) + ")";
  return result;
}

}  // namespace

std::vector<Result> judge_busy_events(const Context& context) {
  std::vector<Result> results;
  for (int s = 0; s < kStaves; ++s) results.push_back(judge_stave(context, s));
  return results;
}

}  // namespace kivo::quality
