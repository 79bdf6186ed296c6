#include "CorrelationMasks.h"

#include <algorithm>
#include <vector>

namespace kivo::quality {

namespace {

// A hot pixel firing in this share of the events pulls the mean positions
// enough to move a difference peak; one firing less often only widens it.
constexpr double kPullingShare = 0.05;

bool hand_to_monitor(const MonitorInputs& inputs, int stave, const std::set<std::pair<int, int>>& pixels) {
  std::vector<int> xbins, ybins;
  for (const auto& [column, row] : pixels) {
    xbins.push_back(column + 1);
    ybins.push_back(row + 1);
  }
  return inputs.set_correlation_mask(stave, xbins.data(), ybins.data(), static_cast<int>(xbins.size())) == 0;
}

}  // namespace

void update_correlation_masks(const MonitorInputs& inputs, const Reading& now, CorrelationMasks& masks) {
  if (now.events < masks.last_events) masks.masked_since.fill(0);  // the histograms were reset
  masks.last_events = now.events;
  for (int s = 0; s < kStaves; ++s) {
    const std::size_t index = static_cast<std::size_t>(s);
    std::set<std::pair<int, int>> pixels = masks.pixels[index];
    bool pulling = false;
    for (const HotPixel& pixel : now.staves[index].hot.pixels)
      if (pixels.insert({pixel.column, pixel.row}).second) pulling |= pixel.hits >= kPullingShare * now.events;
    if (masks.applied && pixels == masks.pixels[index]) continue;
    if (!hand_to_monitor(inputs, s, pixels)) continue;
    masks.pixels[index] = std::move(pixels);
    if (pulling) masks.masked_since[index] = now.events;
  }
  masks.applied = true;
}

double masked_since(const CorrelationMasks& masks, const Reading& now, int a, int b) {
  const double since =
      std::max(masks.masked_since[static_cast<std::size_t>(a)], masks.masked_since[static_cast<std::size_t>(b)]);
  return since <= now.events ? since : 0;
}

}  // namespace kivo::quality
