// Missing detector packet: the share of data events in the window that came
// without the detector packet.
#include "Checks.h"

namespace kivo::quality {

std::vector<Result> judge_missing_packets(const Context& context) {
  const MissingPacketConfig& config = context.config.missing_packet;
  const Reading& now = context.now;
  const Reading& start = context.history.window_start(now, config.window_events, Count::DataEvents);
  const double data_events = now.data_events - start.data_events;
  const double with_packet = now.events - start.events;
  const double missing = data_events > with_packet ? data_events - with_packet : 0;
  Result result{"missing_packet", kNone, kNone, Verdict::Null, "", 0};
  if (data_events < config.min_events) {
    result.reason = format("%.0f data events so far, %.0f needed", data_events, config.min_events);
    return {result};
  }
  const double share = missing / data_events;
  result.verdict = judge_limit(share, config.medium_share, config.bad_share, false);
  result.severity = share;
  result.reason = format("%.0f of the last %.0f data events (%.1f%%) came without the detector packet", missing,
                         data_events, 100 * share);
  return {result};
}

}  // namespace kivo::quality
