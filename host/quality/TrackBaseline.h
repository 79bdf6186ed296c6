// The tracks of a stave over the stretches of the run a check on tracks
// takes as its expectation (per cell, and the residuals of their matches): a
// stretch enters once it is older than the check's window, and never when
// the check flagged the stave at a judgement whose window held it, so that a
// fault that lasts never becomes the expectation.
#ifndef KIVO_HOST_QUALITY_TRACK_BASELINE_H
#define KIVO_HOST_QUALITY_TRACK_BASELINE_H

#include <deque>

#include "TrackReading.h"

namespace kivo::quality {

class History;
struct Reading;

class TrackBaseline {
 public:
  // Takes in the stretches up to the newest reading at least `window`
  // events before `now`.
  void advance(const History& history, const Reading& now, int stave, double window);
  // The check flagged the stave at a judgement with `events` events.
  void flag(double events) { flags_.push_back(events); }
  // Per cell, the tracks and matches of the stretches taken in, and the
  // residuals of the matches.
  const StaveTracks& counts() const { return sum_; }
  double events() const { return events_; }

 private:
  StaveTracks sum_;
  StaveTracks through_;  // the counts since the reset of the last reading taken in
  double through_events_ = 0;
  double events_ = 0;
  bool started_ = false;
  std::deque<double> flags_;
};

}  // namespace kivo::quality

#endif
