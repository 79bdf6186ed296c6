#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "map_kernels.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

#include "TH2F.h"
#include "WholeSum.h"

namespace {

constexpr int kChipColumns = 1024;
constexpr int kBlocks = kOverviewBinsX * kOverviewBinsY;
constexpr float kNoContent = -std::numeric_limits<float>::infinity();

KernelPath path_from_environment() {
  const char* chosen = std::getenv("KIVO_KERNELS");
  return chosen && std::strcmp(chosen, "reference") == 0 ? KernelPath::reference
                                                          : KernelPath::fast;
}

// Read once, when the library is loaded.
KernelPath chosen_path = path_from_environment();

bool fast() { return chosen_path == KernelPath::fast; }

int stride_of(const TH2F& map) { return map.GetNbinsX() + 2; }

int block_of(int xbin, int ybin) {
  return (ybin - 1) / kOverviewBlockY * kOverviewBinsX + (xbin - 1) / kOverviewBlockX;
}

// A content divided by the event count as analysis divides a bin: the float
// content in double, the quotient stored as a float.
float per_event(float content, double nevents) {
  return static_cast<float>(content / nevents);
}

}  // namespace

KernelPath kernel_path() { return chosen_path; }

void set_kernel_path(KernelPath path) { chosen_path = path; }

// --- Summaries

void clear_summary(const TH2F& map, MapSummary& summary) {
  summary.block_maxima.assign(kBlocks, 0.0f);
  summary.column_sums.assign(map.GetNbinsX() + 2, 0.0);
  summary.row_sums.assign(map.GetNbinsY() + 2, 0.0);
  summary.raised_blocks.assign(kBlocks / 64, 0);
  summary.raised_maxima.assign(kBlocks / 64, 0);
  summary.entries = map.GetEntries();
  summary.rewrites++;
}

namespace {

// Adds in-range bin (x, y) of content `content` into `summary`: the same
// steps, in the same bin order, on either path.
void summarise_bin(MapSummary& summary, int x, int y, float content, double& row_sum) {
  summary.column_sums[x] += content;
  row_sum += content;
  float& block = summary.block_maxima[block_of(x, y)];
  block = std::max(block, content);
}

void summarise_cells(const TH2F& map, MapSummary& summary) {
  const int stride = stride_of(map);
  const float* cells = map.GetArray();
  for (int y = 1; y <= map.GetNbinsY(); y++) {
    double row_sum = 0;
    for (int x = 1; x <= map.GetNbinsX(); x++)
      summarise_bin(summary, x, y, cells[y * stride + x], row_sum);
    summary.row_sums[y] = row_sum;
  }
}

void summarise_bins(const TH2F& map, MapSummary& summary) {
  for (int y = 1; y <= map.GetNbinsY(); y++) {
    double row_sum = 0;
    for (int x = 1; x <= map.GetNbinsX(); x++)
      summarise_bin(summary, x, y, static_cast<float>(map.GetBinContent(x, y)), row_sum);
    summary.row_sums[y] = row_sum;
  }
}

}  // namespace

void summarise_map(const TH2F& map, MapSummary& summary) {
  clear_summary(map, summary);
  std::fill(summary.block_maxima.begin(), summary.block_maxima.end(), kNoContent);
  if (fast())
    summarise_cells(map, summary);
  else
    summarise_bins(map, summary);
}

bool summary_in_step(const TH2F& map, const MapSummary& summary) {
  return summary.entries == map.GetEntries();
}

void replay_changes(const TH2F& map, const std::vector<ChangedCell>& changes, std::size_t first,
                    MapSummary& summary) {
  const std::uint32_t stride = static_cast<std::uint32_t>(stride_of(map));
  for (std::size_t i = first; i < changes.size(); i++) {
    const ChangedCell& change = changes[i];
    const int x = static_cast<int>(change.cell % stride);
    const int y = static_cast<int>(change.cell / stride);
    const float after = change.before + 1;
    const double grown = double(after) - double(change.before);
    summary.column_sums[x] += grown;
    summary.row_sums[y] += grown;
    const int block = block_of(x, y);
    float& maximum = summary.block_maxima[block];
    const bool rises = maximum < after;
    maximum = rises ? after : maximum;
    mark_raised(summary.raised_blocks.data(), block);
    summary.raised_maxima[block / 64] |= std::uint64_t{rises} << (block % 64);
  }
  summary.entries = map.GetEntries();
}

double chip_total(const MapSummary& summary, int chip) {
  return rootcompat::SumInOrder(summary.column_sums.data() + chip * kChipColumns + 1, kChipColumns);
}

// --- Batched fill

void start_fills(PendingFills& pending, const FillTarget (&targets)[kMonitorStaves]) {
  std::copy(std::begin(targets), std::end(targets), pending.targets);
  for (int t = 0; t < kMonitorStaves; t++) {
    TH2F& map = *targets[t].map;
    MapSummary* summary = targets[t].summary;
    pending.views[t] = {map.GetArray(), map.GetNbinsX(),
                        summary ? summary->column_sums.data() : nullptr,
                        summary ? summary->row_sums.data() : nullptr,
                        summary ? summary->block_maxima.data() : nullptr,
                        summary ? summary->raised_blocks.data() : nullptr,
                        summary ? summary->raised_maxima.data() : nullptr};
  }
  pending.path = kernel_path();
  pending.keeping = std::all_of(std::begin(targets), std::end(targets),
                                [](const FillTarget& target) { return target.summary; });
  pending.logging = std::any_of(std::begin(targets), std::end(targets),
                                [](const FillTarget& target) { return target.changes; });
  pending.count = 0;
}

namespace {

// Entries and statistics of every map the batch filled; the summaries, in
// step before the batch, are in step again after it.
void apply_fill_statistics(PendingFills& pending) {
  for (int t = 0; t < kMonitorStaves; t++) {
    if (pending.entries[t] == 0) continue;
    TH2F* map = pending.targets[t].map;
    if (pending.summing[t]) map->PutStats(pending.stats[t]);
    map->SetEntries(map->GetEntries() + pending.entries[t]);
    if (MapSummary* summary = pending.targets[t].summary) summary->entries = map->GetEntries();
    if (double* added = pending.targets[t].added_entries) *added += pending.entries[t];
    pending.entries[t] = 0;
    pending.summing[t] = false;
  }
}

// An in-range hit whose content did not grow by exactly one (a content that
// a float no longer counts up by one, or a fraction set by hand): its column
// and row sums, counted one up when it was queued, take the true change
// (when its summary is kept).
[[gnu::noinline, gnu::cold]] void correct_sums(const PendingFills& pending, int i, float before,
                                               float after) {
  const int target = pending.hit_targets[i];
  MapSummary* summary = pending.targets[target].summary;
  if (!summary) return;
  const PendingFills::TargetView& view = pending.views[target];
  const int index = static_cast<int>(pending.cells[i] - view.cells);
  const int stride = view.nx + 2;
  const double correction = double(after) - double(before) - 1;
  summary->column_sums[index % stride] += correction;
  summary->row_sums[index / stride] += correction;
}

// One queued hit applied: its cell grows by one and its block maximum takes
// the new content. Returns the content from before.
[[gnu::always_inline]] inline float apply_hit(PendingFills& pending, int i) {
  float* cell = pending.cells[i];
  const float before = *cell;
  const float after = before + 1;
  *cell = after;
  float* block = pending.block_maxima[i];
  *block = std::max(*block, after);
  if (after - before != 1 && block != &pending.outside_blocks)
    correct_sums(pending, i, before, after);
  return before;
}

// Logs the change of queued hit `i` from content `before`, when it fell in
// range on a map whose changes are logged.
[[gnu::always_inline]] inline void log_hit(PendingFills& pending, int i, float before) {
  if (pending.block_maxima[i] == &pending.outside_blocks) return;
  const int target = pending.hit_targets[i];
  if (std::vector<ChangedCell>* changes = pending.targets[target].changes)
    changes->push_back({static_cast<std::uint32_t>(pending.cells[i] - pending.views[target].cells), before});
}

// As apply_hit, also logging the change.
void apply_logged_hit(PendingFills& pending, int i) { log_hit(pending, i, apply_hit(pending, i)); }

// One queued hit applied and logged, no summary kept (the block pointer
// only tells whether it fell in range).
void apply_hit_to_log(PendingFills& pending, int i) {
  float* cell = pending.cells[i];
  const float before = *cell;
  *cell = before + 1;
  log_hit(pending, i, before);
}

}  // namespace

// One Fill per hit, at a coordinate that lands in the bin the fast path
// chooses.
void fill_one_by_one(PendingFills& pending, int target, int chip, const int* irow,
                     const int* icol, int n) {
  TH2F& map = *pending.targets[target].map;
  const double overflow_column = map.GetXaxis()->GetXmax() + 1;
  for (int i = 0; i < n; i++) {
    const bool x_in_range = icol[i] < kChipColumns;
    map.Fill(x_in_range ? chip * kChipColumns + icol[i] : overflow_column, 511 - irow[i]);
  }
}

// The map's own sums are fetched before any of its cells is applied.
double* statistics_sums(PendingFills& pending, int target) {
  if (!pending.summing[target]) {
    pending.targets[target].map->GetStats(pending.stats[target]);
    pending.summing[target] = true;
  }
  return pending.stats[target];
}

void apply_fills(PendingFills& pending) {
  apply_fill_statistics(pending);
  const int count = pending.count;
  if (pending.logging && pending.keeping)
    for (int i = 0; i < count; i++) apply_logged_hit(pending, i);
  else if (pending.logging)
    for (int i = 0; i < count; i++) apply_hit_to_log(pending, i);
  else if (pending.keeping)
    for (int i = 0; i < count; i++) apply_hit(pending, i);
  else
    for (int i = 0; i < count; i++) *pending.cells[i] += 1;
  pending.count = 0;
}

// --- Normalisation

namespace {

// Hit counts divided by the event count. The raw maps hold whole numbers of
// hits, mostly small: their quotients are divided once into a table, any
// other content is divided where it is met. Either way each quotient is the
// float of the same double division.
struct QuotientTable {
  static constexpr int kSize = 4096;
  double nevents;
  float quotients[kSize];
};

void fill_quotient_table(QuotientTable& table, double nevents) {
  table.nevents = nevents;
  for (int count = 0; count < QuotientTable::kSize; count++)
    table.quotients[count] = static_cast<float>(count / nevents);
}

float per_event(const QuotientTable& table, float content) {
  if (content >= 0 && content < QuotientTable::kSize) {
    const int count = static_cast<int>(content);
    if (count == content) return table.quotients[count];
  }
  return per_event(content, table.nevents);
}

void normalise_row(const float* source, float* target, int n, const QuotientTable& table) {
  for (int x = 0; x < n; x++) target[x] = per_event(table, source[x]);
}

#if defined(__x86_64__)
#define KIVO_WIDE_NORMALISATION 1

// One row of `n` cells divided by the event count, sixteen cells at a time:
// whole counts below 32 are looked up in registers, other whole counts below
// the table size gathered from the table, and any group holding another
// content divided cell by cell. The groups are stored past the cache, as
// nothing here reads the normalised map again; the cells before the first
// 64-byte boundary of the row and those after the last group go one by one.
__attribute__((target("avx512f"))) void normalise_row_wide(const float* source, float* target,
                                                            int n, const QuotientTable& table) {
  constexpr int kLanes = 16;
  const __m512 first_quotients = _mm512_loadu_ps(table.quotients);
  const __m512 next_quotients = _mm512_loadu_ps(table.quotients + kLanes);
  const __m512i register_counts = _mm512_set1_epi32(2 * kLanes);
  const __m512i table_size = _mm512_set1_epi32(QuotientTable::kSize);
  int x = 0;
  while (x < n && reinterpret_cast<std::uintptr_t>(target + x) % 64 != 0) {
    target[x] = per_event(table, source[x]);
    x++;
  }
  for (; x + kLanes <= n; x += kLanes) {
    const __m512 contents = _mm512_loadu_ps(source + x);
    const __m512i counts = _mm512_cvttps_epi32(contents);
    const __mmask16 whole = _mm512_cmp_ps_mask(_mm512_cvtepi32_ps(counts), contents, _CMP_EQ_OQ) &
                            _mm512_cmplt_epu32_mask(counts, table_size);
    __m512 quotients;
    if (whole != 0xffff) {
      alignas(64) float divided[kLanes];
      normalise_row(source + x, divided, kLanes, table);
      quotients = _mm512_load_ps(divided);
    } else if (_mm512_cmplt_epu32_mask(counts, register_counts) == 0xffff) {
      quotients = _mm512_permutex2var_ps(first_quotients, counts, next_quotients);
    } else {
      quotients = _mm512_i32gather_ps(counts, table.quotients, sizeof(float));
    }
    _mm512_stream_ps(target + x, quotients);
  }
  normalise_row(source + x, target + x, n - x, table);
}

bool wide_normalisation_available() {
  static const bool available = __builtin_cpu_supports("avx512f");
  return available;
}
#endif

// Every in-range cell of `source` divided into `target`, row by row.
void normalise_cells(const float* source, float* target, int nx, int ny,
                     const QuotientTable& table) {
  const int stride = nx + 2;
#ifdef KIVO_WIDE_NORMALISATION
  if (wide_normalisation_available()) {
    for (int y = 1; y <= ny; y++)
      normalise_row_wide(source + y * stride + 1, target + y * stride + 1, nx, table);
    _mm_sfence();  // the streamed stores are done before anyone reads the map
    return;
  }
#endif
  for (int y = 1; y <= ny; y++)
    normalise_row(source + y * stride + 1, target + y * stride + 1, nx, table);
}

// Empties `map` as Reset("") would, except for its in-range cells, which the
// caller overwrites next: the under- and overflow cells, sums and entries.
void reset_outside_range(TH2F& map) {
  const int nx = map.GetNbinsX();
  const int ny = map.GetNbinsY();
  const int stride = nx + 2;
  float* cells = map.GetArray();
  std::fill(cells, cells + stride, 0.0f);
  std::fill(cells + (ny + 1) * stride, cells + (ny + 2) * stride, 0.0f);
  for (int y = 1; y <= ny; y++) {
    cells[y * stride] = 0;
    cells[y * stride + nx + 1] = 0;
  }
  if (map.GetSumw2N()) map.GetSumw2()->Reset();
  double stats[TH1::kNstat] = {};
  map.PutStats(stats);
  map.SetEntries(0);
}

void normalise_fast(const TH2F& source, double nevents, TH2F& target) {
  QuotientTable table;
  fill_quotient_table(table, nevents);
  reset_outside_range(target);
  const int nx = source.GetNbinsX();
  const int ny = source.GetNbinsY();
  normalise_cells(source.GetArray(), target.GetArray(), nx, ny, table);
  target.SetEntries(static_cast<double>(nx) * ny);
}

void normalise_bin_by_bin(const TH2F& source, double nevents, TH2F& target) {
  target.Reset("");
  for (int x = 1; x <= source.GetNbinsX(); x++)
    for (int y = 1; y <= source.GetNbinsY(); y++) {
      const float bc = source.GetBinContent(x, y);
      target.SetBinContent(x, y, bc / nevents);
    }
}

// Writes into `cells` (laid out as a map's cells) the content before
// `changes` of every cell they name, divided by the event count: taken in
// reverse order, the last write to a cell is that of its first change.
template <class Write>
void undo_changes(const std::vector<ChangedCell>& changes, double nevents, Write&& write) {
  for (auto change = changes.rbegin(); change != changes.rend(); ++change)
    write(change->cell, per_event(change->before, nevents));
}

}  // namespace

void normalise_map(const TH2F& source, double nevents, TH2F& target) {
  if (fast())
    normalise_fast(source, nevents, target);
  else
    normalise_bin_by_bin(source, nevents, target);
}

void normalise_map_before(const TH2F& source, const std::vector<ChangedCell>& changes,
                          double nevents, TH2F& target) {
  normalise_map(source, nevents, target);
  float* cells = target.GetArray();
  undo_changes(changes, nevents, [cells](std::uint32_t cell, float content) { cells[cell] = content; });
}

void normalise_region_before(const TH2F& source, const std::vector<ChangedCell>& changes,
                             double nevents, int first_x, int last_x, int first_y, int last_y,
                             float* out) {
  const int stride = stride_of(source);
  const int width = last_x - first_x + 1;
  for (int y = first_y; y <= last_y; y++)
    for (int x = first_x; x <= last_x; x++)
      out[(y - first_y) * width + x - first_x] =
          per_event(static_cast<float>(source.GetBinContent(x, y)), nevents);
  undo_changes(changes, nevents, [&](std::uint32_t cell, float content) {
    const int x = static_cast<int>(cell) % stride;
    const int y = static_cast<int>(cell) / stride;
    if (x >= first_x && x <= last_x && y >= first_y && y <= last_y)
      out[(y - first_y) * width + x - first_x] = content;
  });
}

void per_event_maxima(const std::vector<float>& maxima, double nevents, std::vector<float>& out) {
  out.resize(maxima.size());
  std::transform(maxima.begin(), maxima.end(), out.begin(),
                 [nevents](float maximum) { return per_event(maximum, nevents); });
}

std::vector<float> block_maxima_of(const TH2F& map) {
  std::vector<float> maxima(kBlocks, kNoContent);
  for (int y = 1; y <= map.GetNbinsY(); y++)
    for (int x = 1; x <= map.GetNbinsX(); x++) {
      float& block = maxima[block_of(x, y)];
      block = std::max(block, static_cast<float>(map.GetBinContent(x, y)));
    }
  return maxima;
}

// --- Scans

namespace {

// Cells of the blocks whose maximum is above the threshold, row by row; each
// block row's qualifying blocks are listed once for its rows.
std::vector<int> cells_above_in_blocks(const TH2F& map, const MapSummary& summary,
                                       double threshold) {
  const int stride = stride_of(map);
  const float* cells = map.GetArray();
  std::vector<int> found;
  std::vector<int> blocks;
  for (int by = 0; by < kOverviewBinsY; by++) {
    blocks.clear();
    for (int bx = 0; bx < kOverviewBinsX; bx++)
      if (summary.block_maxima[by * kOverviewBinsX + bx] > threshold) blocks.push_back(bx);
    if (blocks.empty()) continue;
    for (int y = by * kOverviewBlockY + 1; y <= (by + 1) * kOverviewBlockY; y++)
      for (int bx : blocks)
        for (int x = bx * kOverviewBlockX + 1; x <= (bx + 1) * kOverviewBlockX; x++)
          if (cells[y * stride + x] > threshold) found.push_back(y * stride + x);
  }
  return found;
}

std::vector<int> bins_above_by_column(const TH2F& map, double threshold) {
  std::vector<int> found;
  for (int x = 1; x <= map.GetNbinsX(); x++)
    for (int y = 1; y <= map.GetNbinsY(); y++)
      if (map.GetBinContent(x, y) > threshold) found.push_back(map.GetBin(x, y));
  return found;
}

// `cells` (by row, then column) regrouped by column, keeping the row order
// within each column: a counting sort on the x bin.
std::vector<int> by_column(const std::vector<int>& cells, int stride) {
  std::vector<int> column_start(stride + 1, 0);
  for (int cell : cells) column_start[cell % stride + 1]++;
  for (int x = 1; x <= stride; x++) column_start[x] += column_start[x - 1];
  std::vector<int> sorted(cells.size());
  for (int cell : cells) sorted[column_start[cell % stride]++] = cell;
  return sorted;
}

}  // namespace

std::vector<int> cells_above_by_column(const TH2F& map, const MapSummary& summary,
                                       double threshold) {
  if (fast()) return by_column(cells_above_in_blocks(map, summary, threshold), stride_of(map));
  return bins_above_by_column(map, threshold);
}

// --- Hot cells

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
  floors.floors.assign(kBlocks, {kNoContent, kNoContent});  // rules nothing out
  floors.maxima.assign(kBlocks, kNoContent);
  floors.rows.assign(kOverviewBinsY, RowFinding{});
  floors.row_sums.clear();
  floors.rewrites = summary.rewrites;
}

HotCells hot_cells_in_blocks(const TH2F& map, MapSummary& summary, double threshold,
                             double ratio, NeighbourhoodFloors& floors) {
  if (floors.rewrites != summary.rewrites || floors.floors.size() != kBlocks) forget_findings(summary, floors);
  const CellGrid grid{map.GetArray(), stride_of(map), map.GetNbinsX(), map.GetNbinsY()};
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
  if (fast()) return hot_cells_in_blocks(map, summary, threshold, ratio, floors);
  return hot_bins(map, threshold, ratio);
}
