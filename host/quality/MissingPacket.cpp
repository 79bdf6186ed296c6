// Missing detector packet: the share of data events in the window that came
// without the detector packet. The share is judged by the least it may be:
// a share that sits at a limit (5% of packets missing when 5% is the Medium
// limit) is past it in half of the windows by chance alone.
#include <algorithm>
#include <cmath>

#include "Checks.h"

namespace kivo::quality {

namespace {

constexpr const char* kCheck = "missing_packet";
// A share counts as past a limit once it is past by this many of its
// standard deviations.
constexpr double kDeviations = 3;

// The share less kDeviations of its binomial standard deviation.
double least_share(double missing, double events) {
  const double share = missing / events;
  return std::max(0.0, share - kDeviations * std::sqrt(share * (1 - share) / events));
}

}  // namespace

std::vector<Result> judge_missing_packets(const Context& context) {
  const MissingPacketConfig& config = context.config.missing_packet;
  const Reading& now = context.now;
  const Reading& start = context.history.window_start(now, config.window_events, Count::DataEvents);
  const double data_events = now.data_events - start.data_events;
  const double with_packet = now.events - start.events;
  const double missing = data_events > with_packet ? data_events - with_packet : 0;
  Result result{kCheck, kNone, kNone, Verdict::Null, "", 0};
  if (data_events < config.min_events) {
    result.reason = format("%.0f data events so far, %.0f needed", data_events, config.min_events);
    return {result};
  }
  const double share = missing / data_events;
  LimitHolds& holds = context.memory.holds;
  result.verdict = judge_limit_held(least_share(missing, data_events), config.medium_share, config.bad_share, false, holds.last(kCheck, kNone));
  holds.keep(kCheck, kNone, kNone, 0, result.verdict);
  result.severity = share;
  result.reason = format("%.0f of the last %.0f data events (%.1f%%) came without the detector packet", missing,
                         data_events, 100 * share);
  return {result};
}

}  // namespace kivo::quality
