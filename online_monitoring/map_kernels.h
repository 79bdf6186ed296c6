// Kernels over the stave hit maps (9216 x 512 float bins with under- and
// overflow): the batched fill of decoded hits, the summaries kept beside each
// raw map, the division of a map by the event count, and the scan for bins
// above a threshold (the search for hot cells is in hot_cells.h). Each has a
// fast path and, beside it, a
// plain reference path made of the ROOT-compatible calls (Fill,
// GetBinContent, SetBinContent, Reset); both give identical results.
#ifndef KIVO_MONITOR_MAP_KERNELS_H
#define KIVO_MONITOR_MAP_KERNELS_H

#include <cstdint>
#include <limits>
#include <vector>

#include "TH1.h"
#include "monitor_plugin.h"

class TH2F;

enum class KernelPath { fast, reference };

// The path every kernel takes: the fast one, unless the environment variable
// KIVO_KERNELS held "reference" when first asked, or set_kernel_path chose.
KernelPath kernel_path();
void set_kernel_path(KernelPath path);

// The blocks of kOverviewBlockX x kOverviewBlockY bins a summary keeps, and
// the content below every content, where a maximum starts.
inline constexpr int kOverviewBlocks = kOverviewBinsX * kOverviewBinsY;
// The block of in-range bin (x, y), from 0, as a summary lays its blocks out.
inline int block_of_bin(int xbin, int ybin) {
  return (ybin - 1) / kOverviewBlockY * kOverviewBinsX + (xbin - 1) / kOverviewBlockX;
}
inline constexpr float kNoContent = -std::numeric_limits<float>::infinity();

// What is kept beside a raw hit map, over its in-range bins only.
struct MapSummary {
  // The largest content of each block of kOverviewBlockX x kOverviewBlockY
  // bins, laid out as kivo_norm_overview lays out its blocks.
  std::vector<float> block_maxima;
  // The contents of each of those blocks added up (in y, then x order), laid
  // out as block_maxima: what the recent view of the maps subtracts.
  std::vector<double> block_sums;
  std::vector<double> column_sums;  // by x bin, each added up in y order
  std::vector<double> row_sums;     // by y bin, each added up in x order
  // One bit per block, as block_maxima lays them out (block b is bit b % 64
  // of word b / 64): set when the fill path raises a cell of the block, and
  // cleared by hot_cells once it has taken the changes in, so that it reads
  // again only the blocks whose cells have changed.
  std::vector<std::uint64_t> raised_blocks;
  // The same for the blocks whose maximum may have risen: at least those
  // whose maximum did, fewer than those raised once most hits fall beneath
  // their block's maximum.
  std::vector<std::uint64_t> raised_maxima;
  // The map's entries when the summary last matched it; the fill path keeps
  // both in step, anything else that changes the map changes its entries.
  double entries = -1;
  // Times the summary was cleared or computed afresh. Between two reads that
  // see the same count, the map changed only through the fill path, which
  // never lowers a content.
  std::uint64_t rewrites = 0;
};

// `summary` as for `map` emptied by Reset.
void clear_summary(const TH2F& map, MapSummary& summary);
// `summary` computed from every in-range bin of `map`, in one pass.
void summarise_map(const TH2F& map, MapSummary& summary);
bool summary_in_step(const TH2F& map, const MapSummary& summary);
// Contents of the in-range bins of chip `chip` (0..8), from the column sums.
double chip_total(const MapSummary& summary, int chip);

// A cell of a map (x bin + (nx + 2) * y bin) changed by a fill, with its
// content from just before.
struct ChangedCell {
  std::uint32_t cell;
  float before;
};

// `summary`, in step with `map` before the fills logged in `changes` from
// `first` on, brought in step with it after them: each change counted into
// the column and row sums and its new content into the block maximum, as
// the fill path keeping the summary would have done.
void replay_changes(const TH2F& map, const std::vector<ChangedCell>& changes, std::size_t first,
                    MapSummary& summary);

// A map a batch of hits fills, the summary kept beside it (or null when it
// is not kept up to date), where its changed in-range cells are logged (or
// null), and where the entries the batch adds are counted (or null): a
// summary brought in step later from the log checks with that count that
// nothing but the fill path changed the map meanwhile. A batch keeps the
// summaries of all its maps or of none.
struct FillTarget {
  TH2F* map = nullptr;
  MapSummary* summary = nullptr;
  std::vector<ChangedCell>* changes = nullptr;
  double* added_entries = nullptr;
};

// Hits of one event gathered before they are applied, so that the cells of
// many hits are fetched from memory at once: the cell of each queued hit and,
// while summaries are kept or changes logged, its target and the block
// maximum of its summary (a spare one outside the in-range bins, another
// inside them when no summary is kept); and per map the entries the queued hits add and the map's
// statistics sums carried forward hit by hit (taken from the map at its
// first in-range hit), so that every sum is rounded exactly as one Fill per
// hit would round it. The column and row sums of kept summaries count each
// hit when it is queued; its block sum counts it, and its block, and its
// block's maximum when that rises, are marked raised, when it is applied.
struct PendingFills {
  static constexpr int kCapacity = 1024;
  // Where each target's cells and summary lie, looked up once per batch.
  struct TargetView {
    float* cells;
    int nx;
    double* column_sums;
    double* row_sums;
    float* block_maxima;
    double* block_sums;
    std::uint64_t* raised_blocks;
    std::uint64_t* raised_maxima;
  };
  FillTarget targets[kMonitorStaves];
  TargetView views[kMonitorStaves];
  KernelPath path = KernelPath::fast;
  bool keeping = false;  // the summaries
  bool logging = false;
  float* cells[kCapacity];
  float* block_maxima[kCapacity];
  int hit_targets[kCapacity];
  float outside_blocks = 0;
  float inside_spare = 0;
  int count = 0;
  double entries[kMonitorStaves] = {};
  bool summing[kMonitorStaves] = {};
  double stats[kMonitorStaves][TH1::kNstat] = {};  // sum w, w^2, wx, wx^2, wy, wy^2, wxy
};

void start_fills(PendingFills& pending, const FillTarget (&targets)[kMonitorStaves]);
// Applies every queued hit; a batch must be applied before its maps are read.
void apply_fills(PendingFills& pending);
// The plain path of queue_hits: one Fill per hit.
void fill_one_by_one(PendingFills& pending, int target, int chip, const int* irow,
                     const int* icol, int n);
// The statistics sums of target `target`'s map that the queued hits add to,
// fetched from the map at the first in-range hit of a batch.
double* statistics_sums(PendingFills& pending, int target);

// Fills `n` hits of chip `chip` of target `target` (a stave), given by
// their decoded chip rows and columns (0..65535), as Fill(stave-wide column,
// 511 - row) per hit would, except that a column beyond its chip goes to the
// overflow (never onto a pixel of the next chip) and a row beyond the chip (a
// negative displayed row) to the underflow. On the fast path the hits are
// queued; defined here so that it is compiled into the loop over channels.
inline void queue_hits(PendingFills& pending, int target, int chip, const int* irow,
                       const int* icol, int n) {
  constexpr int kChipColumns = 1024;
  if (pending.path == KernelPath::reference) {
    fill_one_by_one(pending, target, chip, irow, icol, n);
    return;
  }
  if (pending.count + n > PendingFills::kCapacity) apply_fills(pending);
  const PendingFills::TargetView view = pending.views[target];
  const bool keeping = pending.keeping;
  const bool tracking = keeping || pending.logging;
  const int stride = view.nx + 2;
  double* stats = pending.stats[target];
  bool summing = pending.summing[target];
  // Carried in locals through the loop, so that no sum waits on memory.
  double sumw = stats[0], sumw2 = stats[1], sumwx = stats[2], sumwx2 = stats[3];
  double sumwy = stats[4], sumwy2 = stats[5], sumwxy = stats[6];
  int count = pending.count;
  for (int i = 0; i < n; i++) {
    const int x = chip * kChipColumns + icol[i];
    const int y = 511 - irow[i];
    const bool x_in_range = icol[i] < kChipColumns;
    const int binx = x_in_range ? x + 1 : view.nx + 1;
    const int biny = y >= 0 ? y + 1 : 0;
    float* cell = view.cells + biny * stride + binx;
    __builtin_prefetch(cell, 1);
    pending.cells[count] = cell;
    float* block = &pending.outside_blocks;
    if (x_in_range && y >= 0) {
      if (!summing) {
        const double* fetched = statistics_sums(pending, target);
        sumw = fetched[0], sumw2 = fetched[1], sumwx = fetched[2], sumwx2 = fetched[3];
        sumwy = fetched[4], sumwy2 = fetched[5], sumwxy = fetched[6];
        summing = true;
      }
      sumw += 1;
      sumw2 += 1;
      sumwx += x;
      sumwx2 += double(x) * x;
      sumwy += y;
      sumwy2 += double(y) * y;
      sumwxy += double(x) * y;
      block = &pending.inside_spare;
      if (keeping) {
        view.column_sums[binx] += 1;
        view.row_sums[biny] += 1;
        const int block_index = y / kOverviewBlockY * kOverviewBinsX + x / kOverviewBlockX;
        block = view.block_maxima + block_index;
        __builtin_prefetch(block, 1);
        __builtin_prefetch(view.block_sums + block_index, 1);
      }
    }
    if (tracking) {
      pending.block_maxima[count] = block;
      pending.hit_targets[count] = target;
    }
    count++;
  }
  pending.count = count;
  if (summing) {
    stats[0] = sumw;
    stats[1] = sumw2;
    stats[2] = sumwx;
    stats[3] = sumwx2;
    stats[4] = sumwy;
    stats[5] = sumwy2;
    stats[6] = sumwxy;
  }
  pending.entries[target] += n;
}

// `target` = `source` divided by `nevents` bin by bin, as Reset("") and one
// SetBinContent(x, y, float content / nevents) per in-range bin leave it.
void normalise_map(const TH2F& source, double nevents, TH2F& target);
// The same for the contents `source` had before `changes` were made.
void normalise_map_before(const TH2F& source, const std::vector<ChangedCell>& changes,
                          double nevents, TH2F& target);
// Bins first_x..last_x, first_y..last_y (in range) of that normalised map,
// row by row into `out`.
void normalise_region_before(const TH2F& source, const std::vector<ChangedCell>& changes,
                             double nevents, int first_x, int last_x, int first_y, int last_y,
                             float* out);
// Each of `maxima` divided by `nevents` as a bin content is, into `out`.
void per_event_maxima(const std::vector<float>& maxima, double nevents, std::vector<float>& out);
// The block maxima of `map` read bin by bin, as MapSummary lays them out.
std::vector<float> block_maxima_of(const TH2F& map);

// The cells (x bin + (nx + 2) * y bin) of the in-range bins of `map` whose
// content is greater than `threshold`, by x bin, then y bin. The fast path
// reads only the blocks whose maximum in `summary` (in step with `map`) is
// greater than the threshold.
std::vector<int> cells_above_by_column(const TH2F& map, const MapSummary& summary,
                                       double threshold);

#endif
