#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "map_kernels.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "TH2F.h"
#include "WholeSum.h"

namespace {

constexpr int kChipColumns = 1024;

KernelPath path_from_environment() {
  const char* chosen = std::getenv("KIVO_KERNELS");
  return chosen && std::strcmp(chosen, "reference") == 0 ? KernelPath::reference
                                                          : KernelPath::fast;
}

// Read once, when the library is loaded.
KernelPath chosen_path = path_from_environment();

bool fast() { return chosen_path == KernelPath::fast; }

int stride_of(const TH2F& map) { return map.GetNbinsX() + 2; }

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
  summary.block_maxima.assign(kOverviewBlocks, 0.0f);
  summary.block_sums.assign(kOverviewBlocks, 0.0);
  summary.column_sums.assign(map.GetNbinsX() + 2, 0.0);
  summary.row_sums.assign(map.GetNbinsY() + 2, 0.0);
  summary.raised_blocks.assign(kOverviewBlocks / 64, 0);
  summary.raised_maxima.assign(kOverviewBlocks / 64, 0);
  summary.entries = map.GetEntries();
  summary.rewrites++;
}

namespace {

// Adds in-range bin (x, y) of content `content` into `summary`: the same
// steps, in the same bin order, on either path.
void summarise_bin(MapSummary& summary, int x, int y, float content, double& row_sum) {
  summary.column_sums[x] += content;
  row_sum += content;
  const int index = block_of_bin(x, y);
  summary.block_sums[index] += content;
  float& block = summary.block_maxima[index];
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

namespace {

void mark_raised(std::uint64_t* raised, int block) { raised[block / 64] |= std::uint64_t{1} << (block % 64); }

// Block `block` of a summary takes a content raised to `after`: the block is
// marked raised, and its maximum rises to `after` and is marked when it was
// below. A branch, rarely taken once maps fill, rather than a mark that
// waits on reading the maximum, so that the next hits need not wait for it.
void raise_block(float* block_maxima, std::uint64_t* raised_blocks, std::uint64_t* raised_maxima, int block,
                 float after) {
  mark_raised(raised_blocks, block);
  if (block_maxima[block] < after) [[unlikely]] {
    block_maxima[block] = after;
    mark_raised(raised_maxima, block);
  }
}

}  // namespace

void replay_changes(const TH2F& map, const std::vector<ChangedCell>& changes, std::size_t first,
                    MapSummary& summary) {
  const std::uint32_t stride = static_cast<std::uint32_t>(stride_of(map));
  double* column_sums = summary.column_sums.data();
  double* row_sums = summary.row_sums.data();
  float* block_maxima = summary.block_maxima.data();
  double* block_sums = summary.block_sums.data();
  std::uint64_t* raised_blocks = summary.raised_blocks.data();
  std::uint64_t* raised_maxima = summary.raised_maxima.data();
  for (std::size_t i = first; i < changes.size(); i++) {
    const ChangedCell& change = changes[i];
    const int x = static_cast<int>(change.cell % stride);
    const int y = static_cast<int>(change.cell / stride);
    const float after = change.before + 1;
    const double grown = double(after) - double(change.before);
    column_sums[x] += grown;
    row_sums[y] += grown;
    const int block = block_of_bin(x, y);
    block_sums[block] += grown;
    raise_block(block_maxima, raised_blocks, raised_maxima, block, after);
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
                        summary ? summary->block_sums.data() : nullptr,
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
  summary->block_sums[block_of_bin(index % stride, index / stride)] += correction;
}

// One queued hit applied: its cell grows by one and, when in range, its
// block in the summary takes the new content. Returns the content from
// before.
[[gnu::always_inline]] inline float apply_hit(PendingFills& pending, int i) {
  float* cell = pending.cells[i];
  const float before = *cell;
  const float after = before + 1;
  *cell = after;
  const float* block = pending.block_maxima[i];
  if (block == &pending.outside_blocks) return before;
  const PendingFills::TargetView& view = pending.views[pending.hit_targets[i]];
  const int index = static_cast<int>(block - view.block_maxima);
  view.block_sums[index] += 1;
  raise_block(view.block_maxima, view.raised_blocks, view.raised_maxima, index, after);
  if (after - before != 1) correct_sums(pending, i, before, after);
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
  std::vector<float> maxima(kOverviewBlocks, kNoContent);
  for (int y = 1; y <= map.GetNbinsY(); y++)
    for (int x = 1; x <= map.GetNbinsX(); x++) {
      float& block = maxima[block_of_bin(x, y)];
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
