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
// Candidates tested per stave and refresh: more means a map far from normal.
constexpr int kMaxCandidates = 16384;

// The cells of a map (bins 0..n+1 on both axes, row by row), read directly:
// many candidates may need their neighbours read at a refresh.
struct Cells {
  const float* cells;
  int nx, ny;
  float at(int x, int y) const { return cells[y * (nx + 2) + x]; }
};

// The lower median of the in-range neighbours of bin (x, y).
double neighbour_median(const Cells& map, int x, int y) {
  float contents[8];
  int count = 0;
  for (int dy = -1; dy <= 1; ++dy)
    for (int dx = -1; dx <= 1; ++dx) {
      const int nx = x + dx, ny = y + dy;
      if ((dx || dy) && nx >= 1 && nx <= map.nx && ny >= 1 && ny <= map.ny) contents[count++] = map.at(nx, ny);
    }
  if (count == 0) return 0;
  std::nth_element(contents, contents + (count - 1) / 2, contents + count);
  return contents[(count - 1) / 2];
}

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
  std::vector<int> xbins(kMaxCandidates), ybins(kMaxCandidates);
  hot.candidates = inputs.cells_above(stave, threshold, xbins.data(), ybins.data(), kMaxCandidates);
  if (hot.candidates < 0) hot.candidates = 0;
  hot.examined = std::min<long>(hot.candidates, kMaxCandidates);
  const TH2F& histogram = *inputs.maps[stave];
  const Cells map{histogram.GetArray(), histogram.GetNbinsX(), histogram.GetNbinsY()};
  for (long i = 0; i < hot.examined; ++i) {
    const int x = xbins[static_cast<std::size_t>(i)], y = ybins[static_cast<std::size_t>(i)];
    const double hits = map.at(x, y);
    if (hits > config.neighbour_ratio * neighbour_median(map, x, y)) {
      hot.pixels.push_back({x - 1, y - 1, hits});
      hot.hits += hits;
    }
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
      const std::string partly =
          hot.examined < hot.candidates ? format(" among the first %ld of %ld candidates", hot.examined, hot.candidates) : "";
      result.reason = format("stave %d: %.0f hot pixels%s (firing in more than %g%% of %.0f events and over %g times "
                             "as often as their neighbours)", s, count, partly.c_str(), 100 * config.event_share,
                             events, config.neighbour_ratio) + hottest(hot, events);
    }
    results.push_back(result);
  }
  return results;
}

}  // namespace kivo::quality
