// Track reconstruction beside the monitor: fed the decoded hits of every data
// event with the detector packet, it groups each stave's hits into clusters,
// follows each stave's offset to the reference stave 3 (found from the data,
// never configured), and judges every stave by the straight tracks the other
// three give: where a track points on the stave, and whether the stave saw
// the particle there, in the same event or one event before or after.
//
// The reconstruction costs more per event than the monitor's own
// processing, so it takes the events its share of the time allows (all of
// them in a sparse beam or a slow stream), in runs of consecutive events.
//
// Coordinates are pixels: stave-wide column 0..9215 and chip row 0..511 (the
// decoded row; the hit maps show 511 - row). Everything kept is a ROOT
// histogram or graph, emptied by reset() as the monitor empties its raw
// histograms, and read through objects(). One thread at a time: the event
// thread calls process(), reset() and the readers between two events.
#ifndef KIVO_TRACKING_TRACKER_H
#define KIVO_TRACKING_TRACKER_H

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "TrackingSettings.h"
#include "monitor_plugin.h"

class TGraph;
class TH1D;
class TH1F;
class TH2F;
class TList;
class TNamed;

namespace kivo::tracking {

inline constexpr int kReferenceStave = 3;
inline constexpr int kChips = 9;
inline constexpr int kChipColumns = 1024;
inline constexpr int kStaveColumns = kChips * kChipColumns;
inline constexpr int kRows = 512;
// The cells of the track maps: 64 columns x 64 rows, 144 x 8 over a stave.
inline constexpr int kCellColumns = 64;
inline constexpr int kCellRows = 64;
inline constexpr int kCellsX = kStaveColumns / kCellColumns;
inline constexpr int kCellsY = kRows / kCellRows;
// Lags of the matching: the stave's clusters of event i against the tracks
// of event i + lag (a stave one event late matches at lag -1).
inline constexpr int kMaxLag = 1;
// Bounds that keep a noise burst from stalling the event thread: a stave
// with more hits (or, once clustered, more clusters) in one event is left
// out of that event; at most so many line candidates are tried per stave
// judged and event; at most so many (track, cluster) pairs per stave and
// event enter the maps of hits found elsewhere. What is left out is counted
// in htrack_skipped.
inline constexpr int kMaxHitsPerStave = 4096;
inline constexpr int kMaxClustersPerStave = 512;
inline constexpr int kMaxCandidates = 4096;
inline constexpr int kMaxMovedPairs = 256;

// The objects, named as save() and the run files name them (S = stave 0..3).
// Counts are in the bins; histograms have ROOT's bin numbering.
//
// A track "for stave S" is a straight line through one cluster on each of
// the other three staves (the outer two give the line, the middle one lies
// within the road and the fit's chi-square is below the cut), in one event;
// no cluster of S takes part in choosing it, and each cluster serves one
// track. Its prediction is where the line crosses S (the offsets in use
// applied). Only tracks predicted inside the stave count.
struct Objects {
  // htrack_total_S (TH2F, 144 x 8 cells over columns -0.5..9215.5 and chip
  // rows -0.5..511.5): tracks for S, at the cell of their prediction.
  std::array<TH2F*, kStaves> track_total{};
  // htrack_matched_S (same cells): those of them with a cluster of S of the
  // same event within the matching radius of the prediction (lag 0), also
  // at the cell of the prediction. The efficiency of a cell, a chip or any
  // region is matched / total over its cells.
  std::array<TH2F*, kStaves> track_matched{};
  // hresidual_col_S, hresidual_row_S (TH1F, 250 bins over -12.5..12.5
  // pixels): the matched cluster's centre minus the prediction, columns and
  // chip rows, one entry per match at lag 0; the statistics (mean, RMS) are
  // those of the exact residuals.
  std::array<TH1F*, kStaves> residual_col{};
  std::array<TH1F*, kStaves> residual_row{};
  // hcluster_size_S (TH1F, 32 bins over 0.5..32.5): pixels per cluster, one
  // entry per cluster of S (larger ones in the overflow).
  std::array<TH1F*, kStaves> cluster_size{};
  // hclusters_per_event_S (TH1F, 101 bins over -0.5..100.5): clusters of S
  // in each event taken.
  std::array<TH1F*, kStaves> clusters_per_event{};
  // htrack_lag_S (TH1F, 3 bins over -1.5..1.5: lags -1, 0, +1): tracks
  // for S matched by a cluster of S of the event at lag d, where lag d
  // pairs S's clusters of event i with the tracks of event i + d. Bin 2
  // (lag 0) counts what htrack_matched_S counts; bin 1 (lag -1) the tracks
  // of event i - 1 matched by S's clusters of event i; bin 3 (lag +1) the
  // tracks of event i + 1 matched by S's clusters of event i. Every track
  // is tried at each lag (neighbours are the events taken before and after
  // it), so the bins compare directly. A stave one event late fills bin 1
  // and leaves bin 2 nearly empty.
  std::array<TH1F*, kStaves> track_lag{};
  // htracks_per_event (TH2F, x: 21 bins over -0.5..20.5 tracks, more in the
  // overflow; y: 4 bins over -0.5..3.5, the stave judged): one entry per
  // event taken and stave, at the number of tracks for that stave. A stave
  // whose tracks need a stave that is dead, late or moved gets few or none.
  TH2F* tracks_per_event = nullptr;
  // Where the hits went when a track for S found no match at lag 0: pairs
  // of such a track and a cluster of S in the same event that no track for
  // S matched, at most kMaxMovedPairs per stave and event.
  // hmoved_cells_S (TH2F, 144 x 144 cells of 64 columns, x: the predicted
  // column, y: the cluster's column, both -0.5..9215.5): pairs whose rows
  // are within the matching radius. Two swapped chips fill the blocks off
  // the diagonal, a mirrored chip the antidiagonal of its block.
  std::array<TH2F*, kStaves> moved_cells{};
  // hmoved_col_S (TH2F, x: 9 bins over -0.5..8.5, the chip of the
  // prediction; y: 2047 bins over -1023.5..1023.5, cluster column minus
  // predicted column): the same pairs within 1023 columns. A stuck column
  // address bit k shows as a peak at +-2^k.
  std::array<TH2F*, kStaves> moved_col{};
  // hmoved_row_S (TH2F, x: the chip as above; y: 1023 bins over
  // -511.5..511.5, cluster row minus predicted row): pairs whose columns are
  // within the matching radius.
  std::array<TH2F*, kStaves> moved_row{};
  // htrack_offset_col, htrack_offset_row (TH1D, 4 bins over -0.5..3.5, one
  // per stave): the offsets in use, the stave's column (row) minus stave 3's
  // for the same particle, bin error its uncertainty; 0 with error 0 while
  // the stave is not aligned (see htrack_alignment).
  TH1D* offset_col = nullptr;
  TH1D* offset_row = nullptr;
  // htrack_alignment (TH1D, 4 bins, one per stave): the state of each
  // stave's alignment as AlignmentState numbers it.
  TH1D* alignment_state = nullptr;
  // galign_col_S, galign_row_S (TGraph): the history of the offset in use,
  // one point (events taken since the reset, offset from then on) when it
  // is first found and at every later change of 0.5 pixel or more.
  std::array<TGraph*, kStaves> offset_history_col{};
  std::array<TGraph*, kStaves> offset_history_row{};
  // htrack_skipped (TH2F, x: 4 bins, the stave; y: 2 bins, 0 = the stave
  // had more than kMaxHitsPerStave hits or kMaxClustersPerStave clusters
  // and was left out of the event, 1 = the tracks for the stave reached
  // kMaxCandidates and the rest were not tried): events.
  TH2F* skipped = nullptr;
  // htrack_events (TH1D, 2 bins over -0.5..1.5): bin 1 the events with the
  // detector packet since the reset, bin 2 those the reconstruction took
  // (see Settings::cost_share); every other object counts taken events only.
  TH1D* events = nullptr;
  // tracking_alignment (TNamed): the title says the alignment in words.
  TNamed* alignment_text = nullptr;
};

enum class AlignmentState {
  searching = 0,  // not found yet: no track for or through this stave
  aligned = 1,    // offset in use; the recent correlation agrees or cannot tell
  displaced = 2,  // offset in use, but the recent correlation peaks elsewhere
  silent = 3,     // offset in use, but recently no correlation at all
};

// The alignment of one stave to stave 3 (stave 3 itself: aligned, 0, 0).
struct StaveAlignment {
  AlignmentState state = AlignmentState::searching;
  // The offset in use: the stave's column (chip row) minus stave 3's for the
  // same particle, pixels, and its uncertainty.
  double columns = 0, rows = 0;
  double columns_error = 0, rows_error = 0;
  // The lag at which the correlation was found (0; -1 for a stave one
  // event late from the start, +1 for one early).
  int found_lag = 0;
  double found_at_event = -1;  // events taken since the reset when found
  // While displaced: where the recent correlation peaks, as an offset
  // (same convention as columns/rows), and since when. The offset in use
  // does not follow it: a stave that jumped, or two staves whose cables are
  // swapped, stay visible to the checks as unmatched tracks.
  double peak_columns = 0, peak_rows = 0;
  double displaced_since_event = -1;
};

// A change of an offset in use.
struct AlignmentChange {
  double event;  // events taken since the reset
  int stave;
  double columns, rows;  // the offset from then on
  bool found;            // first found (else followed a slow drift)
};

struct Alignment {
  std::array<StaveAlignment, kStaves> staves{};
  std::vector<AlignmentChange> history;  // in order of events
};

class Tracker {
 public:
  using Report = std::function<void(const std::string&)>;

  // `report` receives the lines about the alignment (found, changed,
  // displaced) meant for standard error.
  Tracker(const Settings& settings, Report report);
  ~Tracker();
  Tracker(const Tracker&) = delete;
  Tracker& operator=(const Tracker&) = delete;

  // Whether the budget lets the reconstruction take the next event (asked
  // before it is decoded, so that the hits of the others are not gathered).
  bool wants_event();
  // One data event with the detector packet; pixels null for one not wanted.
  // Without wants_event() asked first, the event is taken if the budget
  // allows.
  void process(const KivoEventHits& hits);
  // Empties every object and starts the alignment afresh.
  void reset();

  // The objects, with their statistics, the offsets and the alignment text
  // brought up to date; the pointers stay valid for the tracker's life.
  const Objects& objects();
  const Alignment& alignment() const;
  // Events with the detector packet since the reset, and those taken.
  double events() const;
  double taken_events() const;
  const Settings& settings() const;
  // Adds every object of Objects to `list` (brought up to date first), in
  // the order of Objects.
  void add_saved_objects(TList& list);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The monitor's hit sink that feeds `tracker` (asks wants_event, hands each
// event to process, resets with the monitor's histograms), for
// kivo_set_hit_sink.
KivoHitSink hit_sink_of(Tracker& tracker);

}  // namespace kivo::tracking

#endif
