// What the checks on tracks read from the track reconstruction at one
// refresh: counts since the reset, as the monitor's objects hold them, so
// that a window is the difference of two readings; and the alignment as it
// stands. Only what the checks judge is kept, summed where they never need
// the detail (the pairs of hits found elsewhere by the kind of move they
// show), so that the readings of a window stay small.
#ifndef KIVO_HOST_QUALITY_TRACK_READING_H
#define KIVO_HOST_QUALITY_TRACK_READING_H

#include <array>
#include <string>
#include <vector>

#include "Tracker.h"

namespace kivo::quality {

inline constexpr int kTrackCellsX = tracking::kCellsX;  // cells of 64 stave-wide columns
inline constexpr int kTrackCellsY = tracking::kCellsY;  // cells of 64 chip rows
inline constexpr int kTrackCells = kTrackCellsX * kTrackCellsY;
inline constexpr int kChipCellsX = tracking::kChipColumns / tracking::kCellColumns;
inline constexpr int kColumnBits = 10;  // of a chip's column address
// A cluster this many columns from where a move puts it still shows the move;
// the pairs of the next kBitSideWidth columns on either side say what chance gives.
inline constexpr int kMoveTolerance = 2;
inline constexpr int kBitSideWidth = 8;
// Lags of the matching: -1, 0, +1.
inline constexpr int kTrackLags = 2 * tracking::kMaxLag + 1;

// Entries, sum and sum of squares of residuals.
struct ResidualSums {
  double entries = 0, sum = 0, sum2 = 0;
  double mean() const { return entries > 0 ? sum / entries : 0; }
  double rms() const;
};

// Pairs of a track that found no cluster where it points and a cluster of
// the stave in the same event that no track matched, for the tracks
// predicted on one chip, by the kind of move that would explain them: at
// the same place of another chip, at the mirrored column of the same chip,
// or a power of two of columns away (a column address bit stuck). Each
// signature comes with the pairs around it, to say what chance gives.
struct MovedPairs {
  std::array<double, tracking::kChips> same_place{}, other_place{};  // by the chip of the cluster
  double mirrored = 0, not_mirrored = 0;
  // [k]: the cluster 2^k columns lower, [kColumnBits + k]: higher; and the
  // pairs beside each (kBitSideWidth columns on either side of it).
  std::array<double, 2 * kColumnBits> bit_moved{}, bit_side{};
};

struct StaveTracks {
  // Tracks for the stave and those matched in the same event, per cell at
  // the prediction: index x + kTrackCellsX * y.
  std::vector<double> total, matched;
  std::array<double, kTrackLags> lags{};  // matched at lag -1, 0, +1
  ResidualSums columns, rows;             // of the matches in the same event
  std::array<MovedPairs, tracking::kChips> moved{};  // by the chip of the prediction
  // Bins 0..n+1 of hresidual_col_S, hresidual_row_S and hcluster_size_S, for the page.
  std::vector<double> residual_columns, residual_rows, cluster_sizes;
  // The alignment now (not counts).
  tracking::StaveAlignment alignment;

  double tracks() const;
};

struct TrackReading {
  bool present = false;  // false: tracking is off
  double events = 0;     // taken by the reconstruction since the reset
  std::array<StaveTracks, tracking::kStaves> staves{};
};

// Reads the reconstruction now (bringing its objects up to date).
TrackReading read_tracks(tracking::Tracker& tracker);

// A region of a chip's cells: cells x0..x1 (stave-wide, 64 columns each)
// and y0..y1 (64 chip rows each).
struct CellRegion {
  int x0, x1, y0, y1;
};

// The tracks and matches of `region` between two readings of a stave.
struct TrackCounts {
  double total = 0, matched = 0;
};
TrackCounts counts_in(const StaveTracks& later, const StaveTracks* earlier, const CellRegion& region);

// "columns 512 to 1023, rows 0 to 255" of the chip, rows as the hit maps
// show them (511 - chip row); empty for the whole chip.
std::string region_name(const CellRegion& region, int chip);

// Numbers with thousands separated by commas: "12,345".
std::string grouped(double count);

}  // namespace kivo::quality

#endif
