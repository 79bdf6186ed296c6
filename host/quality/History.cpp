#include "History.h"

namespace kivo::quality {

namespace {

constexpr std::size_t kMaxReadings = 48;

double counted(const Reading& reading, Count count) {
  return count == Count::Events ? reading.events : reading.data_events;
}

// What the histograms held at their reset: nothing. A run starts with no
// data events either; a reset within a run (reset_histos) comes after some,
// taken as all but those with the packet since then.
Reading reading_at_reset(const Reading& now, bool same_run) {
  Reading start;
  start.at_reset = true;
  start.run = now.run;
  start.data_events = same_run && now.data_events > now.events ? now.data_events - now.events : 0;
  for (StaveReading& stave : start.staves) {
    stave.hits_per_event.assign(now.staves[0].hits_per_event.size(), 0.0);
    stave.double_columns.assign(now.staves[0].double_columns.size(), 0.0);
    stave.rows.assign(now.staves[0].rows.size(), 0.0);
  }
  for (int s = 0; s < kDifferenceStaves; ++s) {
    start.column_differences[static_cast<std::size_t>(s)].assign(now.column_differences[0].size(), 0.0);
    start.row_differences[static_cast<std::size_t>(s)].assign(now.row_differences[0].size(), 0.0);
  }
  return start;
}

bool starts_anew(const Reading& last, const Reading& now) {
  return now.run != last.run || now.events < last.events || now.data_events < last.data_events;
}

}  // namespace

History::History(double longest_window) : longest_window_(longest_window) {}

void History::add(Reading reading) {
  const bool same_run = !readings_.empty() && readings_.back()->run == reading.run;
  restarted_ = readings_.empty() || starts_anew(*readings_.back(), reading);
  if (restarted_) {
    readings_.clear();
    readings_.push_back(std::make_unique<Reading>(reading_at_reset(reading, same_run)));
  }
  readings_.push_back(std::make_unique<Reading>(std::move(reading)));
  trim();
}

const Reading& History::window_start(const Reading& now, double window, Count count) const {
  for (auto it = readings_.rbegin(); it != readings_.rend(); ++it)
    if (counted(now, count) - counted(**it, count) >= window) return **it;
  return *readings_.front();
}

std::vector<const Reading*> History::readings_from(const Reading& start) const {
  std::vector<const Reading*> from;
  for (const auto& reading : readings_)
    if (reading.get() == &start || !from.empty()) from.push_back(reading.get());
  return from;
}

std::vector<Reading*> History::readings_after(double data_events) {
  std::vector<Reading*> after;
  for (std::size_t i = 1; i < readings_.size(); ++i)
    if (readings_[i]->data_events > data_events) after.push_back(readings_[i].get());
  return after;
}

void History::trim() {
  // Readings before the newest that already spans the longest window serve no window.
  const Reading& now = *readings_.back();
  std::size_t keep_from = 0;
  for (std::size_t i = readings_.size(); i-- > 1;) {
    const bool spans = now.events - readings_[i]->events >= longest_window_ &&
                       now.data_events - readings_[i]->data_events >= longest_window_;
    if (spans) {
      keep_from = i;
      break;
    }
  }
  if (keep_from > 1) readings_.erase(readings_.begin() + 1, readings_.begin() + static_cast<long>(keep_from));
  while (readings_.size() > kMaxReadings) {
    std::size_t closest = 1;
    double closest_gap = -1;
    for (std::size_t i = 1; i + 1 < readings_.size(); ++i) {
      const double gap = readings_[i + 1]->data_events - readings_[i - 1]->data_events;
      if (closest_gap < 0 || gap < closest_gap) {
        closest = i;
        closest_gap = gap;
      }
    }
    readings_.erase(readings_.begin() + static_cast<long>(closest));
  }
}

}  // namespace kivo::quality
