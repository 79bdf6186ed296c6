// Counts of hits over stretches of a run, per stave-wide column and per
// displayed row, and the baselines the checks compare recent counts with:
// what earlier stretches of the run held while nothing was wrong.
#ifndef KIVO_HOST_QUALITY_BASELINE_H
#define KIVO_HOST_QUALITY_BASELINE_H

#include <deque>
#include <vector>

#include "Reading.h"

namespace kivo::quality {

class History;

// Hits of one stave over a stretch of events (with the detector packet).
struct StaveCounts {
  double events = 0;
  std::vector<double> double_columns;  // kDoubleColumns values
  std::vector<double> rows;     // kStaveRows values
};

// The hits of stave `stave` from reading `from` to reading `to`.
StaveCounts counts_between(const Reading& from, const Reading& to, int stave);

// The hits of a stave in the stretches of the run a check takes as its
// expectation. A stretch between two readings is taken in once it is older
// than the check's window, so that a fault is judged before it can enter;
// it is left out when the check flagged the stave at a judgement whose
// window held it, so that a fault that lasts never becomes the expectation.
class Baseline {
 public:
  // Takes in the stretches up to the newest reading at least `window`
  // events before `now`.
  void advance(const History& history, const Reading& now, int stave, double window);
  // The check flagged the stave at a judgement with `events` events.
  void flag(double events) { flags_.push_back(events); }
  // Forgets everything up to `now`: the expectation starts again from there.
  void restart(const Reading& now, int stave);
  const StaveCounts& counts() const { return sum_; }

 private:
  bool flagged_between(double from, double to) const;

  StaveCounts sum_;
  StaveCounts through_;  // the counts since the reset of the last reading taken in
  bool started_ = false;
  double window_ = 0;
  std::deque<double> flags_;
};

}  // namespace kivo::quality

#endif
