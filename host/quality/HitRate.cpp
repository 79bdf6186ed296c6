// Hit rate: hits per event of each stave in the recent windows, within
// absolute limits and against the median of the other staves. The hits of
// hot pixels are left out: those are the hot-pixel check's to judge. The
// windows are 1, 2, ... times `min_events` up to `window_events` long, and
// the worst judgement counts, so that a stave that has just lost its hits is
// seen at once while a small change still has a long window to show in.
// Busy events (noise bursts) are left out, their events and their hits; a
// window without beam (between spills) is not judged, and staves that lost
// every hit are no measure of what the others should have.
#include <algorithm>
#include <optional>
#include <tuple>

#include "BeamDelivery.h"
#include "Checks.h"

namespace kivo::quality {

namespace {

constexpr const char* kCheck = "hit_rate";

Verdict absolute_verdict(const HitRateConfig& config, double rate, Verdict before) {
  return worst(judge_limit_held(rate, config.medium_below, config.bad_below, true, before),
               judge_limit_held(rate, config.medium_above, config.bad_above, false, before));
}

// Hits of the pixels listed now between `start` and `now`.
double hot_hits(const HotPixels& now, const HotPixels& start) {
  double hits = 0;
  for (const HotPixel& pixel : now.pixels) {
    const HotPixel* then = start.find(pixel.column, pixel.row);
    hits += pixel.hits - (then ? then->hits : 0);
  }
  return hits;
}

// Past a ratio limit either way: above `limit` times the median, or below
// the median divided by it (compared as products, so that a rate exactly
// at the limit is not past it by a rounding).
bool past_ratio(double rate, double median, double limit) { return rate > limit * median || rate * limit < median; }

// The verdict of the rate against the median; a limit it was past at the
// last judgement holds until the ratio is back by kLimitMargin of it.
Verdict ratio_verdict(const HitRateConfig& config, double rate, double median, Verdict before) {
  const auto held = [before](double limit, Verdict level) {
    return before >= level ? 1 + (limit - 1) * (1 - kLimitMargin) : limit;
  };
  if (past_ratio(rate, median, held(config.bad_ratio, Verdict::Bad))) return Verdict::Bad;
  if (past_ratio(rate, median, held(config.medium_ratio, Verdict::Medium))) return Verdict::Medium;
  return Verdict::Good;
}

// The rate against those of the other staves, but those that are silent
// (a lost readout unit): what they no longer give is no other stave's fault.
Result judge_stave(const HitRateConfig& config, int s, const std::array<double, kStaves>& rates, double events,
                   const std::array<bool, kStaves>& silent, Verdict before) {
  Result result{kCheck, s, kNone, Verdict::Null, "", 0};
  std::vector<double> others;
  for (int o = 0; o < kStaves; ++o)
    if (o != s && !silent[static_cast<std::size_t>(o)]) others.push_back(rates[static_cast<std::size_t>(o)]);
  std::sort(others.begin(), others.end());
  const double rate = rates[static_cast<std::size_t>(s)];
  result.verdict = absolute_verdict(config, rate, before);
  result.reason = format("stave %d: %.2f hits per event in the last %.0f events (hot pixels left out)", s, rate,
                         events);
  if (others.empty()) {
    result.reason += "; no other stave has hits to compare with";
    return result;
  }
  const double median = others[others.size() / 2];
  result.reason += format("; the other staves %.2f to %.2f", others.front(), others.back());
  if (others.size() + 1 < kStaves) result.reason += format(" (%zu silent left out)", kStaves - 1 - others.size());
  if (median > 0 && rate > 0) {
    result.verdict = worst(result.verdict, ratio_verdict(config, rate, median, before));
    result.severity = std::max(rate / median, median / rate);
    result.reason += format(" (%.2f times their median)", rate / median);
  } else if (median > 0) {
    result.verdict = Verdict::Bad;
    result.severity = 1e9;
  }
  return result;
}

}  // namespace

std::vector<Result> judge_hit_rates(const Context& context) {
  const HitRateConfig& config = context.config.hit_rate;
  const Reading& now = context.now;
  std::vector<Result> results;
  for (int s = 0; s < kStaves; ++s)
    results.push_back({kCheck, s, kNone, Verdict::Null, "", -1});
  double previous = 0;
  std::optional<Delivery> without_beam;
  const std::array<bool, kStaves> silent = silent_lately(context.history, now, config.min_events);
  for (double length = config.min_events; previous < config.window_events; length += config.min_events) {
    const Reading& start = context.history.window_start(now, std::min(length, config.window_events), Count::Events);
    const double events = now.events - start.events;
    if (events <= previous) {
      if (start.events == context.history.reset_point()->events) break;
      continue;
    }
    previous = events;
    if (events < config.min_events) break;
    const Delivery delivery = delivered(start, now, &silent);
    if (!delivery.has_beam()) {
      without_beam = delivery;
      continue;
    }
    std::array<double, kStaves> rates{};
    for (std::size_t s = 0; s < kStaves; ++s) {
      const double hits = now.staves[s].hits - start.staves[s].hits - hot_hits(now.staves[s].hot, start.staves[s].hot);
      const double counted = events - (now.staves[s].busy.events - start.staves[s].busy.events);
      rates[s] = counted > 0 ? std::max(0.0, hits) / counted : 0;
    }
    for (int s = 0; s < kStaves; ++s) {
      Result judged = judge_stave(config, s, rates, events, delivery.silent, context.memory.holds.last(kCheck, s));
      Result& kept = results[static_cast<std::size_t>(s)];
      if (std::tie(judged.verdict, judged.severity) > std::tie(kept.verdict, kept.severity)) kept = std::move(judged);
    }
  }
  const double events = now.events - context.history.window_start(now, config.min_events, Count::Events).events;
  for (Result& result : results) {
    context.memory.holds.keep(kCheck, result.stave, kNone, 0, result.verdict);
    if (result.severity >= 0) continue;
    result.severity = 0;
    result.reason = without_beam ? format("stave %d: ", result.stave) + without_beam->no_beam()
                                 : format("stave %d: %.0f events so far, %.0f needed", result.stave, events,
                                          config.min_events);
  }
  return results;
}

}  // namespace kivo::quality
