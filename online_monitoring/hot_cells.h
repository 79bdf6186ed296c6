// The search for hot cells in a stave hit map: bins above a threshold that
// stand out from their neighbours. The fast path works from the summary kept
// beside the map (map_kernels.h) and from what it found at its last call,
// reading only the blocks that fills have raised since; the plain reference
// path reads every bin through GetBinContent. Both give identical results.
#ifndef KIVO_MONITOR_HOT_CELLS_H
#define KIVO_MONITOR_HOT_CELLS_H

#include <cstdint>
#include <vector>

#include "map_kernels.h"

class TH2F;

// Hot cells: in-range bins whose content is greater than `threshold` and
// greater than `ratio` (0 or more) times the lower median of their in-range
// neighbours (eight, five at an edge, three in a corner), as cells by y bin,
// then x bin; `above` counts every in-range bin greater than the threshold.
struct HotCells {
  std::vector<int> cells;
  int above = 0;
};

// Per block (laid out as MapSummary's block maxima), what is known of its
// lowest contents: `floor`, a content no cell of the block or next to it is
// below, and `least`, one no cell of the block itself is below. The fast
// path of hot_cells does not test a block whose maximum is at most `ratio`
// times its floor, as none of its cells can stand out from its neighbours,
// and does not count the cells above the threshold of a block whose least
// content is above it, as all are. Both hold while the map only grows by
// fills, that is while the summary's rewrites stay those they were taken
// beside.
struct BlockFloor {
  float floor;
  float least;
};

// What the fast path of hot_cells last read of a block's own cells: how many
// are above the threshold, the float thresholds from `lowest` up to, not
// including, `highest` that count holds for (no cell of the block lies
// between), and the block's least content. While the summary does not mark
// the block raised, no cell of it has changed, so the count holds without
// reading the block again.
struct BlockReading {
  int bx = 0;
  int above = 0;
  float lowest = 0, highest = 0;
  float least = 0;
};

// What the fast path of hot_cells found in a block row: the cells above the
// threshold, the blocks whose cells had to be tested (in order) and the hot
// cells among them, and the readings of the blocks above the threshold whose
// least content is not (in order). While the row's cells do not change, the
// ratio stays the same and the float threshold stays from `lowest` up to,
// not including, `highest` (no cell of the row lies between), the count and
// the blocks hold; the hot cells, while the rows next to it do not change
// either. While only the cells change, the finding is brought up to date
// from the blocks whose maximum has changed and the blocks partly above the
// threshold.
struct RowFinding {
  bool known = false;
  float lowest = 0, highest = 0;
  double ratio = 0;
  int above = 0;
  std::vector<int> testing;
  std::vector<int> hot;
  std::vector<BlockReading> partly_above;
};

// What the fast path of hot_cells keeps between calls on a map: the floors
// per block, the findings per block row with the block maxima they were made
// beside, and the summary's row sums when it last ran, which tell the rows a
// fill has changed since.
struct NeighbourhoodFloors {
  std::vector<BlockFloor> floors;
  std::vector<float> maxima;
  std::vector<RowFinding> rows;
  std::vector<double> row_sums;
  std::uint64_t rewrites = 0;
};

// The hot cells of `map`. The fast path reads only blocks whose maximum in
// `summary` (in step with `map`) is above the threshold and, of those, only
// the ones whose floor in `floors` cannot rule them out, taking their floors
// afresh, and the ones partly above the threshold that `summary` marks
// raised since the last call; it then clears those marks, so `floors` must
// be the one kept beside `summary`. Contents are numbers (no NaN).
HotCells hot_cells(const TH2F& map, MapSummary& summary, double threshold, double ratio,
                   NeighbourhoodFloors& floors);

#endif
