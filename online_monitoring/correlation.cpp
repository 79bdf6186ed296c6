// Correlations of the staves from event to event: the per-event mean
// positions of each stave without its masked pixels, gathered in batches,
// and the distributions of their differences against the reference staves
// at every lag, filled one distribution at a time when a batch is full or
// read.
#include "correlation.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cstring>

#include "monitor_plugin.h"

CorrelationMask correlation_masks[NSTAVE];

namespace {

constexpr int kLags = 2 * kMaxCorrelationLag + 1;
constexpr int kAxes = 2;  // columns, rows
constexpr int kCells = kCorrelationBins + 2;
constexpr double kLowEdge = -511.5;
constexpr double kHighEdge = 511.5;

// The pairs kept: each stave against each reference stave but itself.
struct Pair {
  int stave, reference;
};
constexpr Pair kPairs[] = {{0, 3}, {1, 3}, {2, 3}, {0, 2}, {1, 2}, {3, 2}};
constexpr int kPairCount = sizeof kPairs / sizeof kPairs[0];

// Events whose means wait for their differences to be filled, after the
// kMaxCorrelationLag events before them, which the lags reach back to.
constexpr int kBatch = 512;
constexpr int kSlots = kMaxCorrelationLag + kBatch;

struct EventMeans {
  double col[NSTAVE][kSlots];
  double row[NSTAVE][kSlots];
  unsigned char entered[NSTAVE][kSlots];  // the stave has a mean in that event
  int pending = 0;                        // events after the first kMaxCorrelationLag slots
};

EventMeans means;
// Whole counts modulo 2^32 (see kivo_lag_differences); a last cell beyond
// the bins takes the events a pair does not count.
std::uint32_t counts[kPairCount][kLags][kAxes][kCells + 1];

// The bin of a difference, as the axis of hdiffcol_chip finds it.
inline int axis_bin(double x) {
  if (x < kLowEdge) return 0;
  if (!(x < kHighEdge)) return kCorrelationBins + 1;
  return 1 + int(kCorrelationBins * (x - kLowEdge) / (kHighEdge - kLowEdge));
}

// Counts the differences a[i] - b[i] of the events both staves entered into
// `distribution` (kCells bins and a last cell that takes the others). Two
// events at a time where the processor allows: the bin is 1 + the whole part
// of t (the difference measured from the low edge), which is what the axis
// finds unless t lies within a few ulps below the next whole number; those
// few are binned by the axis's own division.
void count_differences(const double* a, const double* b, const unsigned char* a_entered,
                       const unsigned char* b_entered, int n, std::uint32_t* distribution) {
  int i = 0;
#if defined(__SSE2__)
  const __m128d low = _mm_set1_pd(kLowEdge), zero = _mm_setzero_pd(), below = _mm_set1_pd(-1);
  const __m128d top = _mm_set1_pd(kCorrelationBins), near_next = _mm_set1_pd(1 - 1e-9);
  for (; i + 2 <= n; i += 2) {
    const __m128d t = _mm_sub_pd(_mm_sub_pd(_mm_loadu_pd(a + i), _mm_loadu_pd(b + i)), low);
    const __m128d negative = _mm_cmplt_pd(t, zero);
    const __m128d clamped = _mm_or_pd(_mm_and_pd(negative, below), _mm_andnot_pd(negative, _mm_min_pd(t, top)));
    const __m128i whole = _mm_cvttpd_epi32(clamped);
    const int near = _mm_movemask_pd(_mm_cmpge_pd(_mm_sub_pd(clamped, _mm_cvtepi32_pd(whole)), near_next));
    int first = _mm_cvtsi128_si32(whole) + 1, second = _mm_cvtsi128_si32(_mm_shuffle_epi32(whole, 1)) + 1;
    if (near & 1) first = axis_bin(a[i] - b[i]);
    if (near & 2) second = axis_bin(a[i + 1] - b[i + 1]);
    distribution[a_entered[i] & b_entered[i] ? first : kCells]++;
    distribution[a_entered[i + 1] & b_entered[i + 1] ? second : kCells]++;
  }
#endif
  for (; i < n; i++)
    if (a_entered[i] & b_entered[i]) distribution[axis_bin(a[i] - b[i])]++;
}

// Fills pair `pair` at lag `lag` for every pending event, each taken as the
// later event of the two it pairs.
void fill_pair_at_lag(int pair, int lag) {
  const int stave = kPairs[pair].stave, reference = kPairs[pair].reference;
  const int first_stave = kMaxCorrelationLag - std::max(lag, 0);
  const int first_reference = kMaxCorrelationLag - std::max(-lag, 0);
  const unsigned char* stave_entered = means.entered[stave] + first_stave;
  const unsigned char* reference_entered = means.entered[reference] + first_reference;
  std::uint32_t(&distributions)[kAxes][kCells + 1] = counts[pair][lag + kMaxCorrelationLag];
  count_differences(means.col[stave] + first_stave, means.col[reference] + first_reference, stave_entered,
                    reference_entered, means.pending, distributions[0]);
  count_differences(means.row[stave] + first_stave, means.row[reference] + first_reference, stave_entered,
                    reference_entered, means.pending, distributions[1]);
}

// Fills every distribution from the pending events, then keeps the last
// kMaxCorrelationLag events for the lags of the next batch.
void fill_pending() {
  if (means.pending == 0) return;
  for (int pair = 0; pair < kPairCount; pair++)
    for (int lag = -kMaxCorrelationLag; lag <= kMaxCorrelationLag; lag++) fill_pair_at_lag(pair, lag);
  const int last = means.pending;
  for (int s = 0; s < NSTAVE; s++) {
    std::memmove(means.col[s], means.col[s] + last, kMaxCorrelationLag * sizeof(double));
    std::memmove(means.row[s], means.row[s] + last, kMaxCorrelationLag * sizeof(double));
    std::memmove(means.entered[s], means.entered[s] + last, kMaxCorrelationLag);
  }
  means.pending = 0;
}

int pair_of(int stave, int reference) {
  for (int pair = 0; pair < kPairCount; pair++)
    if (kPairs[pair].stave == stave && kPairs[pair].reference == reference) return pair;
  return -1;
}

bool mask_bins_in_range(const int* xbins, const int* ybins, int count) {
  if (count > 0 && (!xbins || !ybins)) return false;
  for (int i = 0; i < count; i++)
    if (xbins[i] < 1 || xbins[i] > CorrelationMask::kColumns || ybins[i] < 1 || ybins[i] > CorrelationMask::kRows)
      return false;
  return true;
}

void set_bit(std::vector<std::uint64_t>& bits, int index, bool value) {
  const std::uint64_t bit = std::uint64_t{1} << (index % 64);
  std::uint64_t& word = bits[static_cast<std::size_t>(index / 64)];
  word = value ? word | bit : word & ~bit;
}

}  // namespace

void record_event_means(const int (&npixels)[NSTAVE], const double (&row_sum)[NSTAVE],
                        const double (&col_sum)[NSTAVE], const MaskedHits& masked) {
  const int slot = kMaxCorrelationLag + means.pending;
  for (int s = 0; s < NSTAVE; s++) {
    const int kept = npixels[s] - masked.count[s];
    const bool entered = npixels[s] > 0 && npixels[s] < max_npixels && kept > 0;
    means.entered[s][slot] = entered;
    means.col[s][slot] = entered ? (col_sum[s] - masked.col_sum[s]) / kept : 0;
    means.row[s][slot] = entered ? (row_sum[s] - masked.row_sum[s]) / kept : 0;
  }
  if (++means.pending == kBatch) fill_pending();
}

void clear_correlations() {
  std::memset(counts, 0, sizeof counts);
  std::memset(means.entered, 0, sizeof means.entered);
  means.pending = 0;
}

int kivo_set_correlation_mask(int stave, const int* xbins, const int* ybins, int count) {
  if (stave < 0 || stave >= NSTAVE || count < 0 || !mask_bins_in_range(xbins, ybins, count)) return -1;
  CorrelationMask& mask = correlation_masks[stave];
  for (int cell : mask.cells) {
    set_bit(mask.pixels, cell, false);
    set_bit(mask.columns, cell / CorrelationMask::kRows, false);
  }
  mask.cells.clear();
  mask.chips = 0;
  for (int i = 0; i < count; i++) {
    const int cell = (xbins[i] - 1) * CorrelationMask::kRows + (ybins[i] - 1);
    set_bit(mask.pixels, cell, true);
    set_bit(mask.columns, xbins[i] - 1, true);
    mask.chips |= 1u << ((xbins[i] - 1) / 1024);
    mask.cells.push_back(cell);
  }
  return 0;
}

int kivo_lag_differences(int stave, int reference, int axis, int lag, std::uint32_t* out) {
  const int pair = pair_of(stave, reference);
  if (!init_done || pair < 0 || axis < 0 || axis >= kAxes || lag < -kMaxCorrelationLag ||
      lag > kMaxCorrelationLag || !out)
    return -1;
  fill_pending();
  std::memcpy(out, counts[pair][lag + kMaxCorrelationLag][axis], kCells * sizeof(std::uint32_t));
  return 0;
}
