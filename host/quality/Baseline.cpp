#include "Baseline.h"

#include <algorithm>

#include "History.h"

namespace kivo::quality {

namespace {

StaveCounts cumulative(const Reading& reading, int stave) {
  const StaveReading& counts = reading.staves[static_cast<std::size_t>(stave)];
  return {reading.events, counts.double_columns, counts.rows};
}

void add_to(std::vector<double>& sum, const std::vector<double>& later, const std::vector<double>& earlier) {
  sum.resize(later.size(), 0.0);
  for (std::size_t i = 0; i < later.size(); ++i) sum[i] += later[i] - (i < earlier.size() ? earlier[i] : 0.0);
}

// `later` less `earlier`, which counts nothing where it is shorter.
std::vector<double> difference_of(const std::vector<double>& later, const std::vector<double>& earlier) {
  std::vector<double> difference(later);
  const std::size_t common = std::min(later.size(), earlier.size());
  for (std::size_t i = 0; i < common; ++i) difference[i] -= earlier[i];
  return difference;
}

}  // namespace

StaveCounts counts_between(const Reading& from, const Reading& to, int stave) {
  const StaveReading& earlier = from.staves[static_cast<std::size_t>(stave)];
  const StaveReading& later = to.staves[static_cast<std::size_t>(stave)];
  return {to.events - from.events, difference_of(later.double_columns, earlier.double_columns),
          difference_of(later.rows, earlier.rows)};
}

bool Baseline::flagged_between(double from, double to) const {
  return std::any_of(flags_.begin(), flags_.end(), [&](double t) { return t > from && t < to; });
}

void Baseline::advance(const History& history, const Reading& now, int stave, double window) {
  window_ = window;
  if (!started_) {
    through_ = cumulative(*history.reset_point(), stave);
    sum_ = StaveCounts{0, std::vector<double>(now.staves[static_cast<std::size_t>(stave)].double_columns.size(), 0.0),
                       std::vector<double>(now.staves[static_cast<std::size_t>(stave)].rows.size(), 0.0)};
    started_ = true;
  }
  const Reading& until = history.window_start(now, window, Count::Events);
  if (!(until.events > through_.events)) return;
  // A stretch (a, b] was in the window of every judgement from b to b + window.
  if (!flagged_between(through_.events, until.events + window)) {
    const StaveReading& later = until.staves[static_cast<std::size_t>(stave)];
    sum_.events += until.events - through_.events;
    add_to(sum_.double_columns, later.double_columns, through_.double_columns);
    add_to(sum_.rows, later.rows, through_.rows);
  }
  through_ = cumulative(until, stave);
  while (!flags_.empty() && flags_.front() <= through_.events) flags_.pop_front();
}

void Baseline::restart(const Reading& now, int stave) {
  through_ = cumulative(now, stave);
  std::fill(sum_.double_columns.begin(), sum_.double_columns.end(), 0.0);
  std::fill(sum_.rows.begin(), sum_.rows.end(), 0.0);
  sum_.events = 0;
  flags_.clear();
  started_ = true;
}

}  // namespace kivo::quality
