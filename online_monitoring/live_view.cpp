// Live view of the hit maps for the host: block maxima and regions of the
// normalised maps of the last analysis, and per-chip totals and hot cells of
// the raw maps, all read from what is kept beside the maps.
#include <algorithm>

#include "TH2F.h"
#include "hit_maps.h"
#include "monitor_state.h"

namespace {

constexpr int kChips = 9;

bool stave_in_range(int stave) { return stave >= 0 && stave < NSTAVE; }

bool derived_map_exists(int stave) { return stave_in_range(stave) && h2d_chip_norm[stave]; }

bool raw_map_exists(int stave) { return init_done && stave_in_range(stave); }

}  // namespace

int kivo_norm_overview(int stave, float* out) {
  if (!derived_map_exists(stave)) return -1;
  const std::vector<float>& overview = norm_overview(stave);
  std::copy(overview.begin(), overview.end(), out);
  return 0;
}

int kivo_norm_region(int stave, int first_x, int last_x, int first_y, int last_y, float* out) {
  if (!derived_map_exists(stave)) return -1;
  const TH2F* map = h2d_chip_norm[stave];
  if (first_x < 1 || last_x > map->GetNbinsX() || first_x > last_x || first_y < 1 ||
      last_y > map->GetNbinsY() || first_y > last_y)
    return -1;
  norm_region(stave, first_x, last_x, first_y, last_y, out);
  return 0;
}

void kivo_materialise_maps() {
  if (derived_map_exists(0)) materialise_norm_maps();
}

double kivo_chip_hits(int stave, int chip) {
  if (!raw_map_exists(stave) || chip < 0 || chip >= kChips) return -1;
  return chip_total(raw_summary(stave), chip);
}

int kivo_hit_sums(int stave, double* columns, double* rows) {
  if (!raw_map_exists(stave)) return -1;
  const MapSummary& summary = raw_summary(stave);
  std::copy(summary.column_sums.begin() + 1, summary.column_sums.end() - 1, columns);
  std::copy(summary.row_sums.begin() + 1, summary.row_sums.end() - 1, rows);
  return 0;
}

int kivo_hot_cells(int stave, double threshold, double ratio, int* xbins, int* ybins, int capacity,
                   int* above) {
  if (!raw_map_exists(stave) || !(ratio >= 0)) return -1;
  const int stride = h2d_chip[stave]->GetNbinsX() + 2;
  const HotCells& hot = raw_hot_cells(stave, threshold, ratio);
  const int stored = std::min(static_cast<int>(hot.cells.size()), std::max(capacity, 0));
  for (int i = 0; i < stored; i++) {
    xbins[i] = hot.cells[i] % stride;
    ybins[i] = hot.cells[i] / stride;
  }
  if (above) *above = hot.above;
  return static_cast<int>(hot.cells.size());
}
