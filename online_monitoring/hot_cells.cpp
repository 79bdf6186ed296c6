#include "hot_cells.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <utility>

#include "TH2F.h"

namespace {

constexpr int kBlockCells = kOverviewBlockX * kOverviewBlockY;

// The lower median of the in-range neighbours of bin (x, y), bin by bin.
double neighbour_median(const TH2F& map, int x, int y) {
  float contents[8];
  int count = 0;
  for (int ny = std::max(y - 1, 1); ny <= std::min(y + 1, map.GetNbinsY()); ny++)
    for (int nx = std::max(x - 1, 1); nx <= std::min(x + 1, map.GetNbinsX()); nx++)
      if (nx != x || ny != y) contents[count++] = static_cast<float>(map.GetBinContent(nx, ny));
  std::nth_element(contents, contents + (count - 1) / 2, contents + count);
  return contents[(count - 1) / 2];
}

HotCells hot_bins(const TH2F& map, double threshold, double ratio) {
  HotCells hot;
  for (int y = 1; y <= map.GetNbinsY(); y++)
    for (int x = 1; x <= map.GetNbinsX(); x++) {
      const double content = map.GetBinContent(x, y);
      if (!(content > threshold)) continue;
      hot.above++;
      if (content > ratio * neighbour_median(map, x, y)) hot.cells.push_back(map.GetBin(x, y));
    }
  return hot;
}

// The in-range cells of a map, read directly.
struct CellGrid {
  const float* cells;
  int stride, nx, ny;
  float at(int x, int y) const { return cells[y * stride + x]; }
};

// Whether in-range bin (x, y) is above `ratio` times the lower median of its
// n in-range neighbours. That median is the ((n - 1) / 2 + 1)-th smallest of
// them, and `ratio` times a content grows with the content, so the bin is
// above it exactly when it is above `ratio` times that many neighbours.
bool stands_out(const CellGrid& grid, int x, int y, double ratio) {
  const double content = grid.at(x, y);
  int neighbours = 0, exceeded = 0;
  for (int ny = std::max(y - 1, 1); ny <= std::min(y + 1, grid.ny); ny++)
    for (int nx = std::max(x - 1, 1); nx <= std::min(x + 1, grid.nx); nx++) {
      if (nx == x && ny == y) continue;
      neighbours++;
      exceeded += content > ratio * grid.at(nx, ny);
    }
  return exceeded > (neighbours - 1) / 2;
}

// The float that a float content is greater than exactly when it is greater
// than `threshold`, so that contents are compared as floats.
float as_float_threshold(double threshold) {
  constexpr float kLargest = std::numeric_limits<float>::max();
  constexpr float kInfinity = std::numeric_limits<float>::infinity();
  if (threshold >= kLargest) return threshold == kInfinity ? kInfinity : kLargest;
  if (threshold < -kLargest) return -kInfinity;
  const float nearest = static_cast<float>(threshold);  // a number or NaN
  return nearest > threshold ? std::nextafter(nearest, -kInfinity) : nearest;
}

// The float thresholds a block row's count of cells above the threshold
// holds for: from the largest content not above the threshold up to the
// smallest above it (or a content no cell above it is below).
struct ThresholdSpan {
  float lowest = kNoContent;
  float highest = std::numeric_limits<float>::infinity();
  void narrow(const ThresholdSpan& other) {
    lowest = std::max(lowest, other.lowest);
    highest = std::min(highest, other.highest);
  }
};

// One read of a block's own cells: how many are above the threshold, the
// smallest of them, and the thresholds that count holds for.
struct BlockCount {
  int above = 0;
  float least = 0;
  ThresholdSpan span;
};

// Contents compared four at a time as vectors; block maxima in groups of
// kGroup.
constexpr int kGroup = 16;
using FourFloats = float __attribute__((vector_size(4 * sizeof(float))));
using FourFlags = int __attribute__((vector_size(4 * sizeof(int))));

float least_of(FourFloats four) { return std::min({four[0], four[1], four[2], four[3]}); }
float greatest_of(FourFloats four) { return std::max({four[0], four[1], four[2], four[3]}); }

// Reads a block's own cells four columns at a time, without a branch on a
// content, so that the reads of its rows are under way at once. A block
// whose width is not a multiple of four has its last four columns read as
// well, counting only those not read before.
BlockCount count_block(const CellGrid& grid, int bx, int by, float threshold) {
  constexpr int kWhole = kOverviewBlockX / 4 * 4;
  constexpr int kReadAgain = kWhole + 4 - kOverviewBlockX;  // columns of the last four read before
  static_assert(kOverviewBlockX >= 4);
  const int first_x = bx * kOverviewBlockX + 1, first_y = by * kOverviewBlockY + 1;
  constexpr float kInfinity = std::numeric_limits<float>::infinity();
  const FourFloats limit = FourFloats{} + threshold;
  FourFloats least = FourFloats{} + kInfinity, lowest = FourFloats{} + kNoContent, highest = least;
  FourFlags above = {};
  const auto read = [&](const float* cells, FourFlags counted) {
    FourFloats four;
    std::memcpy(&four, cells, sizeof four);
    const FourFlags is_above = four > limit;
    above -= is_above & counted;
    least = four < least ? four : least;
    lowest = (~is_above & (four > lowest)) ? four : lowest;
    highest = (is_above & (four < highest)) ? four : highest;
  };
  const FourFlags all = {-1, -1, -1, -1};
  const FourFlags not_read_before = FourFlags{0, 1, 2, 3} >= kReadAgain;
  for (int y = first_y; y < first_y + kOverviewBlockY; y++) {
    const float* row = grid.cells + y * grid.stride + first_x;
    for (int i = 0; i < kWhole; i += 4) read(row + i, all);
    if constexpr (kWhole < kOverviewBlockX) read(row + kOverviewBlockX - 4, not_read_before);
  }
  BlockCount count;
  count.above = above[0] + above[1] + above[2] + above[3];
  count.least = least_of(least);
  count.span.lowest = greatest_of(lowest);
  count.span.highest = least_of(highest);
  return count;
}

// A block's reading that holds for no threshold: one not read yet.
BlockReading unread(int bx) {
  return {bx, 0, std::numeric_limits<float>::infinity(), kNoContent, kNoContent};
}

bool raised(const MapSummary& summary, int block) {
  return (summary.raised_blocks[block / 64] >> (block % 64)) & 1;
}

// Block (reading.bx, by)'s count of cells above the threshold: that of
// `reading`, its last, while the block has not been raised since and the
// threshold is one the count holds for, otherwise read afresh into
// `reading`, with the block's least content kept in its floor too.
BlockCount recalled_or_counted(const CellGrid& grid, const MapSummary& summary, NeighbourhoodFloors& floors, int by,
                               float threshold, BlockReading& reading) {
  const int block = by * kOverviewBinsX + reading.bx;
  if (!raised(summary, block) && reading.lowest <= threshold && threshold < reading.highest)
    return {reading.above, reading.least, {reading.lowest, reading.highest}};
  const BlockCount counted = count_block(grid, reading.bx, by, threshold);
  reading = {reading.bx, counted.above, counted.span.lowest, counted.span.highest, counted.least};
  floors.floors[block].least = counted.least;
  return counted;
}

// The smallest content of a block and of the cells around it. At the map's
// edges these include under- and overflow cells: a floor over more cells is
// no higher, so it is still one of the in-range neighbours.
float neighbourhood_floor(const CellGrid& grid, int bx, int by) {
  constexpr int kWidth = kOverviewBlockX + 2;
  const int first_x = bx * kOverviewBlockX + 1, first_y = by * kOverviewBlockY + 1;
  float column_floors[kWidth];
  std::copy_n(grid.cells + (first_y - 1) * grid.stride + first_x - 1, kWidth, column_floors);
  for (int y = first_y; y <= first_y + kOverviewBlockY; y++) {
    const float* row = grid.cells + y * grid.stride + first_x - 1;
    for (int i = 0; i < kWidth; i++) column_floors[i] = row[i] < column_floors[i] ? row[i] : column_floors[i];
  }
  return *std::min_element(column_floors, column_floors + kWidth);
}

// Whether any of kGroup block maxima is above the threshold, compared four
// at a time as vectors.
bool any_above(const float* maxima, float threshold) {
  FourFlags above = {};
  for (int i = 0; i < kGroup; i += 4) {
    FourFloats four;
    std::memcpy(&four, maxima + i, sizeof four);
    above |= four > threshold;
  }
  std::uint64_t words[2];
  std::memcpy(words, &above, sizeof words);
  return (words[0] | words[1]) != 0;
}

// The blocks of block row `by` whose maximum is above the threshold, into
// `found`; returns how many. Most groups of blocks in a row hold none.
int blocks_above(const MapSummary& summary, int by, float threshold, int* found) {
  static_assert(kOverviewBinsX % kGroup == 0);
  const float* maxima = summary.block_maxima.data() + by * kOverviewBinsX;
  int count = 0;
  for (int first = 0; first < kOverviewBinsX; first += kGroup) {
    if (!any_above(maxima + first, threshold)) continue;
    for (int bx = first; bx < first + kGroup; bx++) {
      found[count] = bx;
      count += maxima[bx] > threshold;
    }
  }
  return count;
}

// The largest block maximum of block row `by` that is not above the
// threshold.
float largest_not_above(const MapSummary& summary, int by, float threshold) {
  const float* maxima = summary.block_maxima.data() + by * kOverviewBinsX;
  FourFloats largest = {kNoContent, kNoContent, kNoContent, kNoContent};
  for (int bx = 0; bx < kOverviewBinsX; bx += 4) {
    FourFloats four;
    std::memcpy(&four, maxima + bx, sizeof four);
    largest = ((four <= threshold) & (four > largest)) ? four : largest;
  }
  return std::max({largest[0], largest[1], largest[2], largest[3]});
}

// Counts the cells above the threshold of the blocks of block row `by`
// whose maximum is above it, reading those whose least content is not above
// it and whose last reading no longer holds, and taking the floors afresh of
// those whose floor cannot rule their cells out. Returns in `finding` the
// count, the thresholds it holds for and the blocks whose fresh floors cannot
// rule their cells out.
void count_block_row(const CellGrid& grid, const MapSummary& summary, NeighbourhoodFloors& floors,
                     int by, float threshold, double ratio, RowFinding& finding) {
  int candidates[kOverviewBinsX];
  const int count = blocks_above(summary, by, threshold, candidates);
  ThresholdSpan span;
  span.lowest = largest_not_above(summary, by, threshold);
  finding.above = 0;
  finding.testing.clear();
  const std::vector<BlockReading> before = std::exchange(finding.partly_above, {});
  auto kept = before.begin();
  for (int i = 0; i < count; i++) {
    const int bx = candidates[i];
    const int block = by * kOverviewBinsX + bx;
    const float maximum = summary.block_maxima[block];
    BlockFloor& known = floors.floors[block];
    if (known.least > threshold) {
      finding.above += kBlockCells;
      span.highest = std::min(span.highest, known.least);
    } else {
      while (kept != before.end() && kept->bx < bx) ++kept;
      BlockReading reading = kept != before.end() && kept->bx == bx ? *kept : unread(bx);
      const BlockCount counted = recalled_or_counted(grid, summary, floors, by, threshold, reading);
      finding.above += counted.above;
      span.narrow(counted.span);
      if (!(counted.least > threshold)) finding.partly_above.push_back(reading);
    }
    if (maximum <= ratio * known.floor) continue;
    known.floor = neighbourhood_floor(grid, bx, by);
    if (!(maximum <= ratio * known.floor)) finding.testing.push_back(bx);
  }
  finding.lowest = span.lowest;
  finding.highest = span.highest;
  const float* maxima = summary.block_maxima.data() + by * kOverviewBinsX;
  std::copy_n(maxima, kOverviewBinsX, floors.maxima.data() + by * kOverviewBinsX);
}

// The blocks of block row `by` whose maximum differs from the one kept in
// `floors`, into `found`; returns how many. Only a maximum marked raised
// can have changed.
int blocks_changed(const MapSummary& summary, const NeighbourhoodFloors& floors, int by, int* found) {
  static_assert(kOverviewBinsX % 64 == 0);
  const float* now = summary.block_maxima.data() + by * kOverviewBinsX;
  const float* before = floors.maxima.data() + by * kOverviewBinsX;
  const std::uint64_t* words = summary.raised_maxima.data() + by * (kOverviewBinsX / 64);
  int count = 0;
  for (int w = 0; w < kOverviewBinsX / 64; w++)
    for (std::uint64_t bits = words[w]; bits != 0; bits &= bits - 1) {
      const int bx = w * 64 + std::countr_zero(bits);
      found[count] = bx;
      count += now[bx] != before[bx];
    }
  return count;
}

// Whether block (bx, by), whose maximum is above the threshold, may hold a
// cell that stands out from its neighbours: not when its floor rules that
// out, taken afresh when the one kept cannot.
bool worth_testing(const CellGrid& grid, const MapSummary& summary, NeighbourhoodFloors& floors, int bx, int by,
                   double ratio) {
  const int block = by * kOverviewBinsX + bx;
  const float maximum = summary.block_maxima[block];
  BlockFloor& known = floors.floors[block];
  if (maximum <= ratio * known.floor) return false;
  known.floor = neighbourhood_floor(grid, bx, by);
  return !(maximum <= ratio * known.floor);
}

// Brings the finding of block row `by`, which holds for the threshold and
// the ratio, up to date with fills of the row's cells since: the blocks
// partly above the threshold are counted again where their columns have
// changed, the blocks whose maximum has changed are counted when it rose
// above the threshold and tested when their floor cannot rule them out, and
// the blocks tested before take their floors afresh. Blocks wholly above the
// threshold stay so, and blocks still not above it add nothing.
void update_block_row(const CellGrid& grid, const MapSummary& summary, NeighbourhoodFloors& floors, int by,
                      float threshold, double ratio, RowFinding& finding) {
  ThresholdSpan span{finding.lowest, finding.highest};
  std::erase_if(finding.partly_above, [&](BlockReading& reading) {
    const int before = reading.above;
    const BlockCount counted = recalled_or_counted(grid, summary, floors, by, threshold, reading);
    finding.above += counted.above - before;
    span.narrow(counted.span);
    return counted.least > threshold;
  });
  std::erase_if(finding.testing, [&](int bx) { return !worth_testing(grid, summary, floors, bx, by, ratio); });
  int changed[kOverviewBinsX];
  const int count = blocks_changed(summary, floors, by, changed);
  for (int i = 0; i < count; i++) {
    const int bx = changed[i];
    const int block = by * kOverviewBinsX + bx;
    const float maximum = summary.block_maxima[block];
    const bool was_above = floors.maxima[block] > threshold;
    floors.maxima[block] = maximum;
    if (!(maximum > threshold)) {
      span.lowest = std::max(span.lowest, maximum);
      continue;
    }
    if (!was_above) {
      BlockReading reading = unread(bx);
      const BlockCount counted = recalled_or_counted(grid, summary, floors, by, threshold, reading);
      finding.above += counted.above;
      span.narrow(counted.span);
      if (!(counted.least > threshold)) {
        const auto place = std::lower_bound(finding.partly_above.begin(), finding.partly_above.end(), bx,
                                            [](const BlockReading& kept, int x) { return kept.bx < x; });
        finding.partly_above.insert(place, reading);
      }
    }
    const auto place = std::lower_bound(finding.testing.begin(), finding.testing.end(), bx);
    if ((place == finding.testing.end() || *place != bx) && worth_testing(grid, summary, floors, bx, by, ratio))
      finding.testing.insert(place, bx);
  }
  finding.lowest = span.lowest;
  finding.highest = span.highest;
}

// The hot cells of the blocks `testing` of block row `by`, row by row.
void test_block_row(const CellGrid& grid, int by, const std::vector<int>& testing, float threshold,
                    double ratio, std::vector<int>& hot) {
  hot.clear();
  for (int y = by * kOverviewBlockY + 1; y <= (by + 1) * kOverviewBlockY; y++)
    for (int bx : testing)
      for (int x = bx * kOverviewBlockX + 1; x <= (bx + 1) * kOverviewBlockX; x++)
        if (grid.at(x, y) > threshold && stands_out(grid, x, y, ratio)) hot.push_back(y * grid.stride + x);
}

// A change to a sum of contents shows while the magnitudes of its terms add
// up to less than this: fills only raise contents, each by at least a half,
// and every rounding of such a sum is far smaller.
constexpr double kTellable = 0x1p40;

// Whether no cell of rows first..last has changed since the row sums
// `before` were taken: every rise shows in its row's sum while the sum is
// small enough to tell.
bool rows_unchanged(const MapSummary& summary, const std::vector<double>& before, int first, int last) {
  if (before.size() != summary.row_sums.size()) return false;
  for (int y = first; y <= last; y++)
    if (summary.row_sums[y] != before[y] || !(std::abs(before[y]) < kTellable)) return false;
  return true;
}

bool finding_holds(const RowFinding& finding, float threshold, double ratio) {
  return finding.known && finding.lowest <= threshold && threshold < finding.highest && finding.ratio == ratio;
}

// Whether fills of block row `by` since the finding cannot have changed it,
// whatever they were: no block of the row is partly above the threshold or
// tested (so none holds a hot cell), and no block maximum was raised, so no
// block rose above the threshold either.
bool fills_leave_finding(const MapSummary& summary, const RowFinding& finding, int by) {
  if (!finding.partly_above.empty() || !finding.testing.empty()) return false;
  const std::uint64_t* words = summary.raised_maxima.data() + by * (kOverviewBinsX / 64);
  return std::all_of(words, words + kOverviewBinsX / 64, [](std::uint64_t word) { return word == 0; });
}

void forget_findings(const MapSummary& summary, NeighbourhoodFloors& floors) {
  floors.floors.assign(kOverviewBlocks, {kNoContent, kNoContent});  // rules nothing out
  floors.maxima.assign(kOverviewBlocks, kNoContent);
  floors.rows.assign(kOverviewBinsY, RowFinding{});
  floors.row_sums.clear();
  floors.rewrites = summary.rewrites;
}

HotCells hot_cells_in_blocks(const TH2F& map, MapSummary& summary, double threshold,
                             double ratio, NeighbourhoodFloors& floors) {
  if (floors.rewrites != summary.rewrites || floors.floors.size() != kOverviewBlocks) forget_findings(summary, floors);
  const CellGrid grid{map.GetArray(), map.GetNbinsX() + 2, map.GetNbinsX(), map.GetNbinsY()};
  const float above = as_float_threshold(threshold);
  HotCells hot;
  for (int by = 0; by < kOverviewBinsY; by++) {
    RowFinding& finding = floors.rows[by];
    const int first_y = by * kOverviewBlockY + 1, last_y = (by + 1) * kOverviewBlockY;
    if (!finding_holds(finding, above, ratio)) {
      count_block_row(grid, summary, floors, by, above, ratio, finding);
      test_block_row(grid, by, finding.testing, above, ratio, finding.hot);
      finding.ratio = ratio;
      finding.known = true;
    } else if (!fills_leave_finding(summary, finding, by)) {
      if (!rows_unchanged(summary, floors.row_sums, first_y, last_y)) {
        update_block_row(grid, summary, floors, by, above, ratio, finding);
        test_block_row(grid, by, finding.testing, above, ratio, finding.hot);
      } else if (!rows_unchanged(summary, floors.row_sums, first_y - 1, last_y + 1)) {
        test_block_row(grid, by, finding.testing, above, ratio, finding.hot);
      }
    }
    hot.above += finding.above;
    hot.cells.insert(hot.cells.end(), finding.hot.begin(), finding.hot.end());
  }
  floors.row_sums = summary.row_sums;
  std::fill(summary.raised_blocks.begin(), summary.raised_blocks.end(), 0);
  std::fill(summary.raised_maxima.begin(), summary.raised_maxima.end(), 0);
  return hot;
}

}  // namespace

HotCells hot_cells(const TH2F& map, MapSummary& summary, double threshold, double ratio,
                   NeighbourhoodFloors& floors) {
  if (kernel_path() == KernelPath::fast) return hot_cells_in_blocks(map, summary, threshold, ratio, floors);
  return hot_bins(map, threshold, ratio);
}
