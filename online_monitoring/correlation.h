// Correlations of the staves from event to event, for the synchronisation
// check of the host: each stave's mean position per event with the pixels of
// its correlation mask left out, and the distributions of their differences
// against the reference staves at lags -2..+2 (see kivo_lag_differences).
// Events are gathered in batches and their differences filled one
// distribution at a time, so that each pass touches one histogram only.
#ifndef KIVO_MONITOR_CORRELATION_H
#define KIVO_MONITOR_CORRELATION_H

#include <cstdint>
#include <vector>

#include "monitor_state.h"

// The pixels of one stave left out of its mean positions: one bit per chip
// and one per stave-wide column that holds any, and one per pixel
// (column-major, by displayed row), with the cells set so that a new mask
// clears only those.
struct CorrelationMask {
  static constexpr int kColumns = 9216;
  static constexpr int kRows = 512;
  unsigned chips = 0;
  std::vector<std::uint64_t> columns = std::vector<std::uint64_t>(kColumns / 64, 0);
  std::vector<std::uint64_t> pixels = std::vector<std::uint64_t>(kColumns * kRows / 64, 0);
  std::vector<int> cells;  // column * kRows + displayed row of each masked pixel
  bool holds_chip(int chip) const { return chips >> chip & 1; }
};

extern CorrelationMask correlation_masks[NSTAVE];

// Hits of each stave that its mask leaves out, within one event.
struct MaskedHits {
  int count[NSTAVE] = {};
  double row_sum[NSTAVE] = {};
  double col_sum[NSTAVE] = {};
};

// Counts into `masked` those of `n` hits of chip `chip` of stave `stave`
// (decoded chip rows and columns) that the stave's mask leaves out, adding
// their chip rows and stave-wide columns as the event's sums add them.
inline void count_masked_hits(int stave, int chip, const int* irow, const int* icol, int n, MaskedHits& masked) {
  const CorrelationMask& mask = correlation_masks[stave];
  for (int i = 0; i < n; i++) {
    const unsigned col = static_cast<unsigned>(chip * 1024 + icol[i]);
    if (col >= CorrelationMask::kColumns || !(mask.columns[col / 64] >> (col % 64) & 1)) continue;
    const unsigned displayed_row = 511u - static_cast<unsigned>(irow[i]);
    if (displayed_row >= CorrelationMask::kRows) continue;
    const unsigned cell = col * CorrelationMask::kRows + displayed_row;
    if (!(mask.pixels[cell / 64] >> (cell % 64) & 1)) continue;
    masked.count[stave]++;
    masked.row_sum[stave] += irow[i];
    masked.col_sum[stave] += col;
  }
}

// One event with the detector packet: each stave's hit count, sums of chip
// rows and stave-wide columns over all its hits, and those of its masked hits.
void record_event_means(const int (&npixels)[NSTAVE], const double (&row_sum)[NSTAVE],
                        const double (&col_sum)[NSTAVE], const MaskedHits& masked);

// Empties the distributions and forgets the events before, as at a reset.
void clear_correlations();

#endif
