// Hot pixels: pixels that fire in more than a configured share of the events
// and far more often than their eight neighbours. The beam spot lights up
// its neighbourhood evenly, so however long the run, it never counts; a
// noisy pixel stands alone.
#include <algorithm>

#include "Checks.h"
#include "TH2F.h"

namespace kivo::quality {

namespace {

constexpr const char* kCheck = "hot_pixels";
// Hot pixels stored at the first ask; more are fetched with a second.
constexpr int kExpectedHotPixels = 256;

std::string hottest(const HotPixels& hot, double events) {
  if (hot.pixels.empty()) return "";
  const HotPixel& pixel = hot.pixels.front();
  return format("; the hottest, column %d row %d, fired in %.0f%% of the events", pixel.column, pixel.row,
                100 * pixel.hits / events);
}

}  // namespace

HotPixels find_hot_pixels(const MonitorInputs& inputs, int stave, double events, const HotPixelConfig& config) {
  HotPixels hot;
  if (!(events > 0)) return hot;
  const double threshold = std::max(config.event_share * events, config.min_hits - 1);
  std::vector<int> xbins(kExpectedHotPixels), ybins(kExpectedHotPixels);
  int above = 0;
  int found = inputs.hot_cells(stave, threshold, config.neighbour_ratio, xbins.data(), ybins.data(),
                               kExpectedHotPixels, &above);
  if (found > kExpectedHotPixels) {
    xbins.resize(static_cast<std::size_t>(found));
    ybins.resize(static_cast<std::size_t>(found));
    found = inputs.hot_cells(stave, threshold, config.neighbour_ratio, xbins.data(), ybins.data(), found, &above);
  }
  if (found < 0) return hot;
  hot.candidates = above;
  const TH2F& map = *inputs.maps[stave];
  const std::size_t stored = std::min(static_cast<std::size_t>(found), xbins.size());
  for (std::size_t i = 0; i < stored; ++i) {
    const double hits = map.GetBinContent(xbins[i], ybins[i]);
    hot.pixels.push_back({xbins[i] - 1, ybins[i] - 1, hits});
    hot.hits += hits;
  }
  std::sort(hot.pixels.begin(), hot.pixels.end(),
            [](const HotPixel& a, const HotPixel& b) { return a.hits > b.hits; });
  return hot;
}

std::vector<Result> judge_hot_pixels(const Context& context) {
  const HotPixelConfig& config = context.config.hot_pixels;
  const double events = context.now.events;
  std::vector<Result> results;
  for (int s = 0; s < kStaves; ++s) {
    const HotPixels& hot = context.now.staves[static_cast<std::size_t>(s)].hot;
    Result result{kCheck, s, kNone, Verdict::Null, "", 0};
    if (events < config.min_events) {
      result.reason = format("stave %d: %.0f events so far, %.0f needed", s, events, config.min_events);
    } else {
      const double count = static_cast<double>(hot.pixels.size());
      result.verdict = judge_limit(count, config.medium_count - 1, config.bad_count - 1, false);
      result.severity = count;
      result.reason = format("stave %d: %.0f hot pixels (firing in more than %g%% of %.0f events and over %g times "
                             "as often as their neighbours)", s, count, 100 * config.event_share,
                             events, config.neighbour_ratio) + hottest(hot, events);
    }
    results.push_back(result);
  }
  return results;
}

}  // namespace kivo::quality
