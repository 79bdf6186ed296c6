// Straight tracks for one stave from the clusters of the other three, in
// the frame of stave 3 (each stave's offset in use taken off): the outer two
// staves' clusters give a line when their difference fits the spread of
// track slopes, the middle stave's cluster must lie within the road of it,
// and the least-squares line through the three must pass the chi-square
// cut. Candidates are chosen best first, each cluster serving one track.
// Clusters are ordered by column, so each search is a window, not every
// combination; at most kMaxCandidates lines are tried per stave and event.
#ifndef KIVO_TRACKING_TRACK_FINDER_H
#define KIVO_TRACKING_TRACK_FINDER_H

#include <vector>

#include "Aligner.h"
#include "Clusters.h"

namespace kivo::tracking {

// Where a track crosses the stave judged, in the stave's own pixels.
struct Prediction {
  double column, row;
};

// One stave's clusters of an event in the frame of stave 3 (the offset in
// use taken off), in the clusters' order (by column).
struct AlignedStave {
  std::vector<double> u, v;
  void set(const std::vector<Cluster>& clusters, double columns, double rows);
};

class TrackFinder {
 public:
  explicit TrackFinder(const Settings& settings);
  void reset();
  // The predictions on stave `dut` of its tracks from the other staves'
  // clusters `staves`, replacing `out`. False when kMaxCandidates lines were
  // tried and the rest were not.
  bool find(int dut, const std::array<AlignedStave, kStaves>& staves, const Aligner& aligner,
            std::vector<Prediction>& out);

  // The spread of the tracks' slopes, pixels per unit of plane position, as
  // measured (or first guessed).
  double slope_width_columns() const { return slopes_.width_columns; }
  double slope_width_rows() const { return slopes_.width_rows; }
  // The mean slope of the last block of tracks and its standard error;
  // `blocks` counts the blocks measured since the reset.
  struct MeanSlope {
    double columns = 0, rows = 0, error_columns = 0, error_rows = 0;
    long blocks = 0;
  };
  const MeanSlope& mean_slope() const { return mean_slope_; }

 private:
  struct Candidate {
    int a, b, c;  // clusters of the outer, middle and other outer stave
    double chi2;
    double column, column_slope, row, row_slope;  // at the mean plane position of the three
  };
  // Slopes of the tracks found, block by block.
  struct Slopes {
    double n = 0, columns = 0, rows = 0, columns2 = 0, rows2 = 0;
    double mean_columns = 0, mean_rows = 0, width_columns = 0, width_rows = 0;
  };
  // What the tracks for one stave need of the positions of the others:
  // the outer planes a and c, the middle one b at share t of the way, and
  // each plane's distance from the three's mean position (and the stave's).
  struct Planes {
    int a, b, c;
    double t, span, da, db, dc, szz, dut;
  };
  void add_slope(double columns, double rows);

  Settings settings_;
  std::array<Planes, kStaves> planes_{};
  double spacing_ = 1;  // mean distance of neighbouring planes
  Slopes slopes_;
  MeanSlope mean_slope_;
  std::vector<Candidate> candidates_;
  std::vector<char> used_[3];
};

}  // namespace kivo::tracking

#endif
