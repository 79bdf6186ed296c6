#include "TrackReading.h"

#include <cmath>
#include <cstdlib>

#include "TH1F.h"
#include "TH2F.h"

namespace kivo::quality {

namespace {

constexpr int kMovedColumnBins = 2047;  // cluster column minus predicted column, -1023..1023

// The contents of bins (1, y + 1) .. (nx, y + 1) of `map`, straight from its storage.
const float* row_of(const TH2F& map, int y) {
  return map.GetArray() + static_cast<std::ptrdiff_t>(map.GetNbinsX() + 2) * (y + 1) + 1;
}

void read_cells(const TH2F& map, std::vector<double>& cells) {
  cells.assign(kTrackCells, 0.0);
  for (int y = 0; y < kTrackCellsY; ++y) {
    const float* row = row_of(map, y);
    for (int x = 0; x < kTrackCellsX; ++x) cells[static_cast<std::size_t>(x + kTrackCellsX * y)] = row[x];
  }
}

std::vector<double> bins_of(const TH1F& histogram) {
  std::vector<double> bins(static_cast<std::size_t>(histogram.GetNbinsX() + 2));
  for (std::size_t bin = 0; bin < bins.size(); ++bin) bins[bin] = histogram.GetBinContent(static_cast<int>(bin));
  return bins;
}

ResidualSums residual_sums(const TH1F& histogram) {
  double stats[4] = {0, 0, 0, 0};
  histogram.GetStats(stats);
  return {stats[0], stats[2], stats[3]};
}

// The pairs of hmoved_cells by the chips and places of prediction and cluster.
// Row by row of the map's storage: nearly every bin is empty.
void read_moved_cells(const TH2F& map, std::array<MovedPairs, tracking::kChips>& moved) {
  for (int j = 0; j < kTrackCellsX; ++j) {
    const float* row = row_of(map, j);
    for (int i = 0; i < kTrackCellsX; ++i) {
      const double count = row[i];
      if (count == 0) continue;
      const int chip = i / kChipCellsX, at = i % kChipCellsX;
      MovedPairs& pairs = moved[static_cast<std::size_t>(chip)];
      const int to_chip = j / kChipCellsX, to = j % kChipCellsX;
      const bool same_place = std::abs(to - at) <= 1;
      if (to_chip != chip) {
        (same_place ? pairs.same_place : pairs.other_place)[static_cast<std::size_t>(to_chip)] += count;
      } else if (!same_place) {
        (std::abs(to - (kChipCellsX - 1 - at)) <= 1 ? pairs.mirrored : pairs.not_mirrored) += count;
      }
    }
  }
}

// The pairs of hmoved_col around each power of two of columns a move may span.
void read_moved_columns(const TH2F& map, std::array<MovedPairs, tracking::kChips>& moved) {
  constexpr int kReach = kMoveTolerance + kBitSideWidth;
  for (int chip = 0; chip < tracking::kChips; ++chip) {
    MovedPairs& pairs = moved[static_cast<std::size_t>(chip)];
    for (int k = 0; k < kColumnBits; ++k)
      for (const int sign : {-1, 1}) {
        const std::size_t index = static_cast<std::size_t>(sign < 0 ? k : kColumnBits + k);
        for (int d = -kReach; d <= kReach; ++d) {
          const int moved_by = sign * (1 << k) + d;
          if (moved_by < -kMovedColumnBins / 2 || moved_by > kMovedColumnBins / 2) continue;
          const double count = map.GetBinContent(chip + 1, moved_by + kMovedColumnBins / 2 + 1);
          (std::abs(d) <= kMoveTolerance ? pairs.bit_moved : pairs.bit_side)[index] += count;
        }
      }
  }
}

}  // namespace

double ResidualSums::rms() const {
  if (entries <= 0) return 0;
  const double m = mean();
  return std::sqrt(std::max(0.0, sum2 / entries - m * m));
}

double StaveTracks::tracks() const {
  double sum = 0;
  for (double cell : total) sum += cell;
  return sum;
}

TrackReading read_tracks(tracking::Tracker& tracker) {
  const tracking::Objects& objects = tracker.objects();
  TrackReading reading;
  reading.present = true;
  reading.events = tracker.events();
  for (std::size_t s = 0; s < tracking::kStaves; ++s) {
    StaveTracks& stave = reading.staves[s];
    read_cells(*objects.track_total[s], stave.total);
    read_cells(*objects.track_matched[s], stave.matched);
    for (int lag = 0; lag < kTrackLags; ++lag)
      stave.lags[static_cast<std::size_t>(lag)] = objects.track_lag[s]->GetBinContent(lag + 1);
    stave.columns = residual_sums(*objects.residual_col[s]);
    stave.rows = residual_sums(*objects.residual_row[s]);
    stave.residual_columns = bins_of(*objects.residual_col[s]);
    stave.residual_rows = bins_of(*objects.residual_row[s]);
    stave.cluster_sizes = bins_of(*objects.cluster_size[s]);
    read_moved_cells(*objects.moved_cells[s], stave.moved);
    read_moved_columns(*objects.moved_col[s], stave.moved);
    stave.alignment = tracker.alignment().staves[s];
  }
  return reading;
}

TrackCounts counts_in(const StaveTracks& later, const StaveTracks* earlier, const CellRegion& region) {
  TrackCounts counts;
  if (later.total.empty()) return counts;
  const bool subtract = earlier && !earlier->total.empty();
  for (int y = region.y0; y <= region.y1; ++y)
    for (int x = region.x0; x <= region.x1; ++x) {
      const std::size_t cell = static_cast<std::size_t>(x + kTrackCellsX * y);
      counts.total += later.total[cell] - (subtract ? earlier->total[cell] : 0.0);
      counts.matched += later.matched[cell] - (subtract ? earlier->matched[cell] : 0.0);
    }
  return counts;
}

std::string region_name(const CellRegion& region, int chip) {
  const int first_column = (region.x0 - chip * kChipCellsX) * tracking::kCellColumns;
  const int last_column = (region.x1 - chip * kChipCellsX + 1) * tracking::kCellColumns - 1;
  const bool all_columns = first_column == 0 && last_column == tracking::kChipColumns - 1;
  const bool all_rows = region.y0 == 0 && region.y1 == kTrackCellsY - 1;
  // Displayed rows run the other way: chip row r is shown at 511 - r.
  const int first_row = tracking::kRows - (region.y1 + 1) * tracking::kCellRows;
  const int last_row = tracking::kRows - 1 - region.y0 * tracking::kCellRows;
  std::string name;
  if (!all_columns) name = "columns " + std::to_string(first_column) + " to " + std::to_string(last_column);
  if (!all_rows)
    name += (name.empty() ? "" : ", ") + std::string("rows ") + std::to_string(first_row) + " to " +
            std::to_string(last_row);
  return name;
}

std::string grouped(double count) {
  const long long whole = std::llround(count);
  const std::string digits = std::to_string(std::llabs(whole));
  std::string text = whole < 0 ? "-" : "";
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) text += ',';
    text += digits[i];
  }
  return text;
}

}  // namespace kivo::quality
