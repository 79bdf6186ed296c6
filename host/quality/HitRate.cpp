// Hit rate: hits per event of each stave in the window, within absolute
// limits and against the median of the other staves.
#include <algorithm>

#include "Checks.h"

namespace kivo::quality {

namespace {

constexpr const char* kCheck = "hit_rate";

Verdict absolute_verdict(const HitRateConfig& config, double rate) {
  return worst(judge_limit(rate, config.medium_below, config.bad_below, true),
               judge_limit(rate, config.medium_above, config.bad_above, false));
}

}  // namespace

std::vector<Result> judge_hit_rates(const Context& context) {
  const HitRateConfig& config = context.config.hit_rate;
  const Reading& now = context.now;
  const Reading& start = context.history.window_start(now, config.window_events, Count::Events);
  const double events = now.events - start.events;
  std::array<double, kStaves> rates{};
  for (std::size_t s = 0; s < kStaves; ++s)
    rates[s] = events > 0 ? (now.staves[s].hits - start.staves[s].hits) / events : 0;
  std::vector<Result> results;
  for (int s = 0; s < kStaves; ++s) {
    Result result{kCheck, s, kNone, Verdict::Null, "", 0};
    if (events < config.min_events) {
      result.reason = format("stave %d: %.0f events so far, %.0f needed", s, events, config.min_events);
      results.push_back(result);
      continue;
    }
    std::vector<double> others;
    for (int o = 0; o < kStaves; ++o)
      if (o != s) others.push_back(rates[static_cast<std::size_t>(o)]);
    std::sort(others.begin(), others.end());
    const double rate = rates[static_cast<std::size_t>(s)];
    const double median = others[others.size() / 2];
    result.verdict = absolute_verdict(config, rate);
    result.reason = format("stave %d: %.2f hits per event in the last %.0f events; the other staves %.2f to %.2f",
                           s, rate, events, others.front(), others.back());
    if (median > 0 && rate > 0) {
      const double ratio = std::max(rate / median, median / rate);
      result.verdict = worst(result.verdict, judge_limit(ratio, config.medium_ratio, config.bad_ratio, false));
      result.severity = ratio;
      result.reason += format(" (%.2f times their median)", rate / median);
    } else if (median > 0) {
      result.verdict = Verdict::Bad;
      result.severity = 1e9;
    }
    results.push_back(result);
  }
  return results;
}

}  // namespace kivo::quality
