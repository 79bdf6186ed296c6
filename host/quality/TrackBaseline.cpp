#include "TrackBaseline.h"

#include <algorithm>

#include "History.h"

namespace kivo::quality {

namespace {

void add_to(std::vector<double>& sum, const std::vector<double>& later, const std::vector<double>& earlier) {
  sum.resize(later.size(), 0.0);
  for (std::size_t i = 0; i < later.size(); ++i) sum[i] += later[i] - (i < earlier.size() ? earlier[i] : 0.0);
}

void add_to(ResidualSums& sum, const ResidualSums& later, const ResidualSums& earlier) {
  sum.entries += later.entries - earlier.entries;
  sum.sum += later.sum - earlier.sum;
  sum.sum2 += later.sum2 - earlier.sum2;
}

}  // namespace

void TrackBaseline::advance(const History& history, const Reading& now, int stave, double window) {
  const auto cells = [stave](const Reading& reading) -> const StaveTracks& {
    return reading.tracks.staves[static_cast<std::size_t>(stave)];
  };
  if (!started_) {
    through_ = cells(*history.reset_point());
    through_events_ = history.reset_point()->events;
    sum_.total.assign(kTrackCells, 0.0);
    sum_.matched.assign(kTrackCells, 0.0);
    started_ = true;
  }
  const Reading& until = history.window_start(now, window, Count::Events);
  if (!(until.events > through_events_)) return;
  // A stretch (a, b] was in the window of every judgement from b to b + window.
  const bool flagged = std::any_of(flags_.begin(), flags_.end(), [&](double t) {
    return t > through_events_ && t < until.events + window;
  });
  if (!flagged) {
    add_to(sum_.total, cells(until).total, through_.total);
    add_to(sum_.matched, cells(until).matched, through_.matched);
    add_to(sum_.columns, cells(until).columns, through_.columns);
    add_to(sum_.rows, cells(until).rows, through_.rows);
    events_ += until.events - through_events_;
  }
  through_.total = cells(until).total;
  through_.matched = cells(until).matched;
  through_.columns = cells(until).columns;
  through_.rows = cells(until).rows;
  through_events_ = until.events;
  while (!flags_.empty() && flags_.front() <= through_events_) flags_.pop_front();
}

}  // namespace kivo::quality
