// Live view of the hit maps for the host: block maxima and regions of the
// normalised maps, and per-chip totals and hot bins of the raw maps.
#include <algorithm>
#include <limits>

#include "TH2F.h"
#include "eventio/monitor_plugin.h"
#include "monitor_state.h"

namespace {

constexpr int kChips = 9;
constexpr int kChipColumns = 1024;

bool stave_in_range(int stave) { return stave >= 0 && stave < NSTAVE; }

bool derived_map_exists(int stave) { return stave_in_range(stave) && h2d_chip_norm[stave]; }

bool raw_map_exists(int stave) { return init_done && stave_in_range(stave); }

}  // namespace

int kivo_norm_overview(int stave, float* out) {
  if (!derived_map_exists(stave)) return -1;
  const TH2F* map = h2d_chip_norm[stave];
  const int stride = map->GetNbinsX() + 2;
  const float* cells = map->GetArray();
  std::fill(out, out + kOverviewBinsX * kOverviewBinsY, -std::numeric_limits<float>::infinity());
  for (int y = 1; y <= kOverviewBinsY * kOverviewBlockY; y++) {
    float* blocks = out + (y - 1) / kOverviewBlockY * kOverviewBinsX;
    for (int x = 1; x <= kOverviewBinsX * kOverviewBlockX; x++) {
      float& block = blocks[(x - 1) / kOverviewBlockX];
      block = std::max(block, cells[y * stride + x]);
    }
  }
  return 0;
}

int kivo_norm_region(int stave, int first_x, int last_x, int first_y, int last_y, float* out) {
  if (!derived_map_exists(stave)) return -1;
  const TH2F* map = h2d_chip_norm[stave];
  if (first_x < 1 || last_x > map->GetNbinsX() || first_x > last_x || first_y < 1 ||
      last_y > map->GetNbinsY() || first_y > last_y)
    return -1;
  const int stride = map->GetNbinsX() + 2;
  const float* cells = map->GetArray();
  for (int y = first_y; y <= last_y; y++)
    out = std::copy(cells + y * stride + first_x, cells + y * stride + last_x + 1, out);
  return 0;
}

void kivo_materialise_maps() {}

double kivo_chip_hits(int stave, int chip) {
  if (!raw_map_exists(stave) || chip < 0 || chip >= kChips) return -1;
  const TH2F* map = h2d_chip[stave];
  double hits = 0;
  for (int y = 1; y <= map->GetNbinsY(); y++)
    for (int x = chip * kChipColumns + 1; x <= (chip + 1) * kChipColumns; x++)
      hits += map->GetBinContent(x, y);
  return hits;
}

int kivo_cells_above(int stave, double threshold, int* xbins, int* ybins, int capacity) {
  if (!raw_map_exists(stave)) return -1;
  const TH2F* map = h2d_chip[stave];
  int found = 0;
  for (int y = 1; y <= map->GetNbinsY(); y++)
    for (int x = 1; x <= map->GetNbinsX(); x++) {
      if (!(map->GetBinContent(x, y) > threshold)) continue;
      if (found < capacity) {
        xbins[found] = x;
        ybins[found] = y;
      }
      found++;
    }
  return found;
}
