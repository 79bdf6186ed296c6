// The offset of each stave to stave 3, found from the data and followed
// through the run. Searching, the clusters of each stave are paired with
// stave 3's of the same event and of the events before and after; once their
// differences pile up into one clear peak (coarse), its place is measured to
// a fraction of a pixel (fine) and becomes the offset in use. Then the mean
// residuals of the matched tracks follow slow drifts, while a sample of the
// events keeps the correlation going, epoch by epoch, so that a stave whose
// correlation now peaks elsewhere (it moved, or its cables were swapped) or
// has none while the others have one is said so, without the offset in use
// following it.
#ifndef KIVO_TRACKING_ALIGNER_H
#define KIVO_TRACKING_ALIGNER_H

#include <array>
#include <string>

#include "Clusters.h"
#include "Correlation.h"
#include "Tracker.h"

namespace kivo::tracking {

class Aligner {
 public:
  Aligner(const Settings& settings, Tracker::Report report);

  void reset();
  // One event taken (the `events`-th since the reset).
  void observe(const EventClusters& event, double events);
  // A track for stave `stave`, and whether the stave matched it at lag 0.
  void count_track(int stave, bool matched);
  // A match at lag 0 on stave `stave`: cluster minus prediction.
  void add_residual(int stave, double columns, double rows, double events);
  // The mean slope of a block of tracks (pixels per unit of plane
  // position) and its standard error.
  void follow_mean_slope(double columns, double rows, double error_columns, double error_rows, double events);

  bool aligned(int stave) const { return alignment_.staves[stave].state != AlignmentState::searching; }
  // Every stave aligned and its offset refined by its first residual blocks.
  bool settled() const;
  double columns(int stave) const { return alignment_.staves[stave].columns; }
  double rows(int stave) const { return alignment_.staves[stave].rows; }
  // The resolution of one cluster position, measured from the residuals
  // (pixels), or a first guess before.
  double resolution() const { return resolution_; }
  const Alignment& alignment() const { return alignment_; }
  // The alignment in words, for tracking_alignment.
  std::string describe() const;
  // Writes the offsets, states and histories into the objects.
  void write(const Objects& objects) const;

  // How the search and the following work, for the tests.
  static constexpr int kSearchEvery = 64;       // events between two searches of the coarse peak
  static constexpr int kFineEvery = 16;         // events between two measurements of the fine peak
  static constexpr int kEpochEvents = 1024;     // events of one epoch of the recent correlation
  static constexpr int kResidualBlock = 200;    // matches whose mean residual moves the offset once
  static constexpr int kFirstBlock = 25;        // ... in each of the first kFirstBlocks after it is found
  static constexpr int kFirstBlocks = 6;
  static constexpr int kMaxClusters = 64;       // a stave with more in an event does not enter the correlation
  static constexpr double kPairsPerEvent = 12;  // pairs the recent correlation may take per event, on average

 private:
  enum class Phase { coarse, fine, follow };
  // The correlation of one of staves 0..2 with stave 3.
  struct Search {
    Phase phase = Phase::coarse;
    std::array<CoarseCorrelation, 2 * kMaxLag + 1> coarse;  // lags -1, 0, +1
    FineCorrelation fine;
    int lag = 0;
    double fine_since = 0;  // event the fine measurement began
    int elsewhere_epochs = 0, silent_epochs = 0;
    double confirmed_excess = 0;  // the fine peak at the offset in use, last epoch
    bool fine_on_candidate = false;  // the fine distribution is centred on a peak elsewhere
  };
  // Sums of one stave's residuals since the offset last moved.
  struct Residuals {
    double n = 0, columns = 0, rows = 0, columns2 = 0, rows2 = 0;
    double width = 0;  // RMS of the last block, combined over both axes
    int blocks = 0;    // since the stave was found
  };
  // The tracks for a stave in the current epoch.
  struct Matches {
    double tracks = 0, matched = 0;
  };
  // Where an offset was last written into the history and last logged.
  struct Marks {
    double history_columns = 0, history_rows = 0, logged_columns = 0, logged_rows = 0;
  };

  void correlate(int stave, const EventClusters& event, int lag, bool coarse, bool fine);
  void search_coarse(int stave);
  void measure_fine(int stave, double events);
  void judge_epoch(double events);
  void found(int stave, const Peak& peak, double events);
  void shift(int stave, double columns, double rows, double events);
  void complete_block(int stave, double events);
  std::array<double, kStaves> observable_part(int stave) const;
  void update_resolution();
  void log(const std::string& line) const;

  Settings settings_;
  Tracker::Report report_;
  std::array<double, kStaves> leverage_{};  // 1 + h of each stave's leave-one-out prediction
  std::array<Search, kStaves - 1> searches_;
  std::array<Residuals, kStaves> residuals_{};
  std::array<Matches, kStaves> matches_{};
  std::array<Marks, kStaves> marks_{};
  Alignment alignment_;
  double resolution_ = 0.5;
  double tokens_ = 0;
  double last_search_ = 0, last_fine_ = 0, epoch_start_ = 0;
};

}  // namespace kivo::tracking

#endif
