// Dead chip: a chip with far fewer hits in the window than the same chip of
// the other staves, which see the same beam. A chip far from the beam sees
// only noise, so the stave's other chips are no measure; the same chip
// elsewhere is. A hot pixel can outfire the noise of a whole chip, so the
// hits of hot pixels are left out: those since the window's start when the
// pixel was hot then already, else their share of the run so far.
// A chip that has just died shows long before the window has passed: each
// chip is also judged over the shortest recent stretch of `min_events`, when
// the other staves had enough hits there, and the worse verdict counts.
#include <algorithm>
#include <cmath>
#include <tuple>
#include <utility>
#include <vector>

#include "Checks.h"

namespace kivo::quality {

namespace {

constexpr const char* kCheck = "dead_chip";
constexpr int kChipColumns = 1024;

struct Window {
  double events;
  std::array<std::array<double, kChips>, kStaves> hits;
};

// Hits of the hot pixels now, by chip, in the window from `start`. The
// pixels then are looked up by place, sorted: a noisy chip has thousands.
std::array<double, kChips> hot_hits_by_chip(const HotPixels& now, const HotPixels& start, double window_share) {
  const auto place = [](const HotPixel& p) { return std::pair{p.column, p.row}; };
  std::vector<HotPixel> then = start.pixels;
  std::sort(then.begin(), then.end(), [&place](const HotPixel& a, const HotPixel& b) { return place(a) < place(b); });
  std::array<double, kChips> hits{};
  for (const HotPixel& pixel : now.pixels) {
    const auto found = std::lower_bound(then.begin(), then.end(), place(pixel),
                                        [&place](const HotPixel& p, const std::pair<int, int>& at) { return place(p) < at; });
    const bool was_hot = found != then.end() && place(*found) == place(pixel);
    const double in_window = was_hot ? pixel.hits - found->hits : pixel.hits * window_share;
    hits[static_cast<std::size_t>(pixel.column / kChipColumns)] += in_window;
  }
  return hits;
}

Window window_of(const Context& context, double events) {
  const Reading& now = context.now;
  const Reading& start = context.history.window_start(now, events, Count::Events);
  Window window{now.events - start.events, {}};
  const double window_share = now.events > 0 ? window.events / now.events : 0;
  for (std::size_t s = 0; s < kStaves; ++s) {
    const std::array<double, kChips> hot = hot_hits_by_chip(now.staves[s].hot, start.staves[s].hot, window_share);
    for (std::size_t c = 0; c < kChips; ++c) {
      const double hits = now.staves[s].chip_hits[c] - start.staves[s].chip_hits[c];
      window.hits[s][c] = std::max(0.0, std::round(hits - hot[c]));
    }
  }
  return window;
}

// The hits of a chip in a window beside those of the same chip of the other
// staves: their median, fewest and most.
struct ChipComparison {
  double hits, expected, fewest, most;
};

ChipComparison compare_chip(const Window& window, int stave, int chip) {
  std::array<double, kStaves - 1> others;
  std::size_t count = 0;
  for (int s = 0; s < kStaves; ++s)
    if (s != stave) others[count++] = window.hits[static_cast<std::size_t>(s)][static_cast<std::size_t>(chip)];
  std::sort(others.begin(), others.end());
  return {window.hits[static_cast<std::size_t>(stave)][static_cast<std::size_t>(chip)], others[others.size() / 2],
          others.front(), others.back()};
}

// The verdict and severity of a chip over `window`; its reason is written
// only for the judgement that is kept.
Result assess_chip(const DeadChipConfig& config, const Window& window, const ChipComparison& chip_hits, int stave,
                   int chip) {
  Result result{kCheck, stave, chip, Verdict::Null, "", 0};
  if (window.events < config.min_events || chip_hits.expected < config.min_expected_hits) return result;
  const double share = chip_hits.hits / chip_hits.expected;
  result.verdict = judge_limit(share, config.medium_fraction, config.bad_fraction, true);
  result.severity = 1 - share;
  return result;
}

std::string reason_for(const DeadChipConfig& config, const Window& window, const ChipComparison& chip_hits,
                       int stave, int chip) {
  // Each reason put together at once, in one string: a refresh writes one per chip.
  std::string text;
  text.reserve(192);
  text.append("stave ").append(std::to_string(stave)).append(", chip ").append(std::to_string(chip)).append(": ");
  if (window.events < config.min_events)
    return text.append(whole(window.events)).append(" events so far, ").append(whole(config.min_events)).append(" needed");
  text.append(whole(chip_hits.hits)).append(" hits in the last ").append(whole(window.events));
  text.append(" events (hot pixels left out); the same chip of the other staves had ");
  text.append(whole(chip_hits.fewest)).append(" to ").append(whole(chip_hits.most));
  if (chip_hits.expected < config.min_expected_hits)
    return text.append(", too few to judge (median ").append(whole(chip_hits.expected)).append(", ")
        .append(whole(config.min_expected_hits)).append(" needed)");
  const double share = chip_hits.hits / chip_hits.expected;
  return text.append(" (").append(whole(100 * share)).append("% of their median)");
}

}  // namespace

std::vector<Result> judge_dead_chips(const Context& context) {
  const DeadChipConfig& config = context.config.dead_chip;
  const Window window = window_of(context, config.window_events);
  const Window recent = window_of(context, config.min_events);
  std::vector<Result> results;
  for (int stave = 0; stave < kStaves; ++stave)
    for (int chip = 0; chip < kChips; ++chip) {
      const ChipComparison over_window = compare_chip(window, stave, chip);
      const ChipComparison lately = compare_chip(recent, stave, chip);
      Result result = assess_chip(config, window, over_window, stave, chip);
      const Result recent_result = assess_chip(config, recent, lately, stave, chip);
      const bool worse =
          std::tie(recent_result.verdict, recent_result.severity) > std::tie(result.verdict, result.severity);
      if (recent_result.verdict != Verdict::Null && worse) {
        result = recent_result;
        result.reason = reason_for(config, recent, lately, stave, chip);
      } else {
        result.reason = reason_for(config, window, over_window, stave, chip);
      }
      results.push_back(std::move(result));
    }
  return results;
}

}  // namespace kivo::quality
