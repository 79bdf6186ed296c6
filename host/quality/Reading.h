// What the checks read from the monitor at one refresh: counters, per-stave
// and per-chip hit totals, fitted beam positions, hot pixels and copies of
// the small distributions. The checks judge these copies only; the monitor's
// objects are read here and never changed.
#ifndef KIVO_HOST_QUALITY_READING_H
#define KIVO_HOST_QUALITY_READING_H

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "TrackReading.h"

class TH1D;
class TH1F;
class TH2F;
class TGraphAsymmErrors;

namespace kivo::quality {

inline constexpr int kStaves = 4;
inline constexpr int kChips = 9;
inline constexpr int kReferenceStave = 3;     // the differences are taken against it
inline constexpr int kDifferenceStaves = 3;   // staves 0..2 have difference distributions
inline constexpr int kChipColumns = 1024;
inline constexpr int kStaveColumns = kChips * kChipColumns;  // stave-wide columns of a hit map
// The checks count hits per double column (stave-wide columns 2d and 2d + 1).
inline constexpr int kDoubleColumns = kStaveColumns / 2;
inline constexpr int kChipDoubleColumns = kChipColumns / 2;
inline constexpr int kStaveRows = 512;
// Lags of the stave correlations: a stave's events against the reference
// staves' from kMaxLag events before to kMaxLag events after.
inline constexpr int kMaxLag = 2;
inline constexpr int kLags = 2 * kMaxLag + 1;
// The reference staves of the correlations: stave 3, and stave 2 for when
// stave 3 gives none.
inline constexpr std::array<int, 2> kLagReferences = {3, 2};
// ROOT colours of the staves, as the monitor draws them.
inline constexpr int kStaveColours[kStaves] = {600, 632, 418, 618};

struct HotPixelConfig;
struct BeamCache;

// The monitor's objects and live-view functions, resolved by name.
struct MonitorInputs {
  const int* run;
  const int* data_events;        // kivo_evnts: data events of the run
  TH1D* const* events;           // hnevnt: events with the detector packet
  TH1D* const* stave_hits;       // hchip
  TH1F* const* hits_per_event;   // hnhit_chip[4]
  TH1F* const* column_differences;
  TH1F* const* row_differences;
  TGraphAsymmErrors* const* beam;  // gmpos_chip[4]
  TH2F* const* maps;               // h2d_chip[4]
  double (*chip_hits)(int stave, int chip);
  int (*hot_cells)(int stave, double threshold, double ratio, int* xbins, int* ybins, int capacity, int* above);
  int (*hit_sums)(int stave, double* columns, double* rows);
  int (*set_correlation_mask)(int stave, const int* xbins, const int* ybins, int count);
  int (*lag_differences)(int stave, int reference, int axis, int lag, std::uint32_t* out);
  int (*set_busy_rule)(double quantile, double multiple, double least);
  int (*busy_events)(int stave, double* figures, double* columns, double* rows);
};

// Resolves the inputs through `lookup` (a symbol's address by name, null when
// absent); nullopt with the missing names in `missing`.
std::optional<MonitorInputs> resolve_inputs(const std::function<void*(const char*)>& lookup,
                                            std::string& missing);

struct HotPixel {
  int column;  // stave-wide
  int row;     // displayed
  double hits;  // since the last reset
  bool in_block = false;  // one of a block of pixels that stand out together
  bool firing = false;    // fires in more than the configured share of the recent events
};

// The pixels of a stave that stand out from their neighbours, alone or as a
// block, with more than `threshold` hits: the hot pixels and those that may
// become hot. Whether each fires often enough now is judged against the
// earlier readings (see mark_firing).
struct HotPixels {
  std::vector<HotPixel> pixels;  // by row, then column
  long candidates = 0;           // pixels above the threshold, before the neighbour test
  double hits = 0;               // hits of the pixels listed
  double threshold = 0;          // the hits a pixel needed to be listed

  // The listed pixel at (column, row), or null.
  const HotPixel* find(int column, int row) const;
  long firing() const;
};

struct BeamFit {
  double column, row, column_width, row_width;
};

// A histogram's bins 0..n+1 (underflow and overflow included).
using Bins = std::vector<double>;

// A distribution's whole counts in bins 0..n+1, modulo 2^32: what matters is
// the difference of two readings, which is exact while fewer than 2^32
// entries fell into one bin between them.
using LagCounts = std::vector<std::uint32_t>;

// The differences of a stave's mean column and row per event, masked pixels
// left out, against a reference stave's at each lag, -kMaxLag first; empty
// against the stave itself.
struct LagBins {
  std::array<LagCounts, kLags> columns, rows;
};

// The busy events of a stave since the reset (noise bursts: far more hits
// than the run's distribution of hits per event), which the checks leave out.
struct BusyEvents {
  double events = 0, hits = 0;
  double threshold = 0;  // the hits an event needs to be busy; 0 while not known
  double most = 0;       // the most hits of one busy event
};

// A stave's counts since the reset. Those of the hits leave out the busy
// events (their hits are kept in `busy`), but for `hits_per_event`, which is
// the monitor's distribution as it shows it.
struct StaveReading {
  double hits = 0;                       // hits in events where the stave counted (hchip)
  std::array<double, kChips> chip_hits{};  // hits in the raw map since its reset
  std::vector<double> double_columns;    // hits in the raw map since its reset, per double column
  std::vector<double> rows;              // the same per displayed row
  BusyEvents busy;
  std::optional<BeamFit> beam;
  HotPixels hot;
  Bins hits_per_event;
  std::array<LagBins, kLagReferences.size()> lags;  // against each of kLagReferences
};

struct Reading {
  // What the histograms held at their reset (History.cpp): no events with
  // the packet, every count zero.
  bool at_reset = false;
  int run = 0;
  double data_events = 0;  // with or without the packet, since the run began
  double events = 0;       // with the detector packet, since the last reset
  std::array<StaveReading, kStaves> staves{};
  std::array<Bins, kDifferenceStaves> column_differences, row_differences;
  // What the beam delivered up to this reading, measured once a check asks
  // (BeamDelivery.h); a copy of the reading starts without it.
  class Cache {
   public:
    Cache() = default;
    Cache(const Cache&) {}
    Cache& operator=(const Cache&) {
      beams.reset();
      return *this;
    }
    Cache(Cache&&) = default;
    Cache& operator=(Cache&&) = default;
    std::shared_ptr<BeamCache> beams;  // shared_ptr: BeamCache is complete only where it is made
  };
  mutable Cache cache;
  TrackReading tracks;  // of the track reconstruction, when it runs

  double map_hits(int stave) const;
};

// A stave's hits since the reset per column and per row with the hits of its
// listed hot pixels taken out, as save() writes them for a reference run.
struct HitProfiles {
  std::vector<double> double_columns, rows;
};
HitProfiles profiles_without_hot_pixels(const StaveReading& stave);
// "quality_double_column_hits_2"
std::string profile_name(const std::string& axis, int stave);

// Reads the monitor now; hot pixels are found with `hot` (see HotPixels.cpp).
Reading read_monitor(const MonitorInputs& inputs, const HotPixelConfig& hot);

// The lag distributions of every stave (LagDifferences.cpp).
void read_lag_bins(const MonitorInputs& inputs, Reading& reading);

// Sum of all bins, underflow and overflow included.
double total(const Bins& bins);

}  // namespace kivo::quality

#endif
