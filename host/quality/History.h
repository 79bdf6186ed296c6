// The readings of recent refreshes, from which the checks take their
// windows of recent events. Bounded: readings older than the longest window
// are dropped, and of the rest the one closest to its neighbours goes first.
#ifndef KIVO_HOST_QUALITY_HISTORY_H
#define KIVO_HOST_QUALITY_HISTORY_H

#include <memory>
#include <vector>

#include "Reading.h"

namespace kivo::quality {

// How a window is counted: events with the detector packet, or all data events.
enum class Count { Events, DataEvents };

class History {
 public:
  explicit History(double longest_window);

  // Adds `reading`. A reading of another run, or with fewer events than the last (the
  // histograms were reset), starts the history anew; then the start of the
  // history stands for the reset.
  void add(Reading reading);
  // The last reading added, whole; null before the first.
  const Reading* newest() const { return readings_.empty() ? nullptr : readings_.back().get(); }
  // The same, for what is judged of it against the readings before it.
  Reading& newest_to_complete() { return *readings_.back(); }
  // The readings after the reset point with more than `data_events` data
  // events, oldest first, for what is judged of them.
  std::vector<Reading*> readings_after(double data_events);
  // The reading that stands for the last reset: no hits anywhere.
  const Reading* reset_point() const { return readings_.empty() ? nullptr : readings_.front().get(); }
  // `start` (one of the readings) and every reading after it, oldest first.
  std::vector<const Reading*> readings_from(const Reading& start) const;
  // The newest reading at least `window` events before `now`, or the start
  // of the history when there is none.
  const Reading& window_start(const Reading& now, double window, Count count) const;
  std::size_t size() const { return readings_.size(); }
  // Whether the last add() started the history anew.
  bool restarted() const { return restarted_; }

 private:
  void trim();

  double longest_window_;
  // Oldest first; the first stands for the reset. Held by pointer, so that
  // dropping one from the middle moves pointers only.
  std::vector<std::unique_ptr<Reading>> readings_;
  bool restarted_ = false;
};

}  // namespace kivo::quality

#endif
