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

// One window's judgement of a stave's rate against those of the other
// staves, but those that are silent (a lost readout unit): what they no
// longer give is no other stave's fault. The reason is written only for the
// window whose judgement is kept (the worst of several per stave).
struct StaveRate {
  Verdict verdict = Verdict::Null;
  double severity = 0;
  double rate = 0, events = 0;
  std::vector<double> others;  // the rates of the other staves that speak, lowest first
};

StaveRate judge_stave(const HitRateConfig& config, int s, const std::array<double, kStaves>& rates, double events,
                      const std::array<bool, kStaves>& silent, Verdict before) {
  StaveRate judged;
  for (int o = 0; o < kStaves; ++o)
    if (o != s && !silent[static_cast<std::size_t>(o)]) judged.others.push_back(rates[static_cast<std::size_t>(o)]);
  std::sort(judged.others.begin(), judged.others.end());
  judged.rate = rates[static_cast<std::size_t>(s)];
  judged.events = events;
  judged.verdict = absolute_verdict(config, judged.rate, before);
  if (judged.others.empty()) return judged;
  const double median = judged.others[judged.others.size() / 2];
  if (median > 0 && judged.rate > 0) {
    judged.verdict = worst(judged.verdict, ratio_verdict(config, judged.rate, median, before));
    judged.severity = std::max(judged.rate / median, median / judged.rate);
  } else if (median > 0) {
    judged.verdict = Verdict::Bad;
    judged.severity = 1e9;
  }
  return judged;
}

std::string reason_of(const StaveRate& judged, int s) {
  std::string reason = format("stave %d: %.2f hits per event in the last %.0f events (hot pixels left out)", s,
                              judged.rate, judged.events);
  if (judged.others.empty()) return reason + "; no other stave has hits to compare with";
  const double median = judged.others[judged.others.size() / 2];
  reason += format("; the other staves %.2f to %.2f", judged.others.front(), judged.others.back());
  if (judged.others.size() + 1 < kStaves) reason += format(" (%zu silent left out)", kStaves - 1 - judged.others.size());
  if (median > 0 && judged.rate > 0) reason += format(" (%.2f times their median)", judged.rate / median);
  return reason;
}

}  // namespace

std::vector<Result> judge_hit_rates(const Context& context) {
  const HitRateConfig& config = context.config.hit_rate;
  const Reading& now = context.now;
  std::array<std::optional<StaveRate>, kStaves> kept;
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
      StaveRate judged = judge_stave(config, s, rates, events, delivery.silent, context.memory.holds.last(kCheck, s));
      std::optional<StaveRate>& worst_yet = kept[static_cast<std::size_t>(s)];
      if (!worst_yet || std::tie(judged.verdict, judged.severity) > std::tie(worst_yet->verdict, worst_yet->severity))
        worst_yet = std::move(judged);
    }
  }
  const double events = now.events - context.history.window_start(now, config.min_events, Count::Events).events;
  std::vector<Result> results;
  for (int s = 0; s < kStaves; ++s) {
    const std::optional<StaveRate>& judged = kept[static_cast<std::size_t>(s)];
    Result result{kCheck, s, kNone, Verdict::Null, "", 0};
    if (judged) {
      result.verdict = judged->verdict;
      result.severity = judged->severity;
      result.reason = reason_of(*judged, s);
    } else {
      result.reason = without_beam ? format("stave %d: ", s) + without_beam->no_beam()
                                   : format("stave %d: %.0f events so far, %.0f needed", s, events, config.min_events);
    }
    context.memory.holds.keep(kCheck, s, kNone, 0, result.verdict);
    results.push_back(std::move(result));
  }
  return results;
}

}  // namespace kivo::quality
