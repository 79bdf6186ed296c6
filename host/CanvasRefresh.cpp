#include "CanvasRefresh.h"

#include <time.h>

#include <algorithm>
#include <cmath>

namespace kivo::host {

CoarseClock::time_point CoarseClock::now() noexcept {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
  return time_point(std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec));
}

namespace {

// A year: longer intervals are surely a typing error.
constexpr double kLongestInterval = 365.0 * 24 * 3600;

int milliseconds_until(CanvasRefresh::Clock::time_point when, CanvasRefresh::Clock::time_point now) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(when - now).count();
  return static_cast<int>(std::clamp<long long>(left, 0, 1000LL * 3600));
}

}  // namespace

CanvasRefresh::CanvasRefresh(bool when_data_stop, Clock::time_point now)
    : when_data_stop_(when_data_stop), last_redraw_(now), last_event_(now) {}

std::string CanvasRefresh::set_interval(double seconds) {
  if (!std::isfinite(seconds) || seconds < 0 || seconds > kLongestInterval)
    return "seconds must be 0 (no refresh by time) or a positive number of seconds up to a year";
  if (seconds == 0) {
    interval_.reset();
  } else {
    interval_ = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  }
  return {};
}

double CanvasRefresh::interval() const {
  return interval_ ? std::chrono::duration<double>(*interval_).count() : 0;
}

void CanvasRefresh::redrawn(Clock::time_point now) {
  behind_ = false;
  last_redraw_ = now;
}

void CanvasRefresh::data_event(Clock::time_point now) {
  behind_ = true;
  last_event_ = now;
}

bool CanvasRefresh::interval_passed(Clock::time_point now) const {
  return interval_ && now - last_redraw_ >= *interval_;
}

bool CanvasRefresh::due_after_event(bool end_of_run, Clock::time_point now) const {
  if (!behind_) return false;
  return (when_data_stop_ && end_of_run) || interval_passed(now);
}

bool CanvasRefresh::due_while_idle(bool exhausted, Clock::time_point now) const {
  if (!behind_) return false;
  const bool stopped = exhausted || now - last_event_ >= kStoppedAfter;
  return (when_data_stop_ && stopped) || interval_passed(now);
}

int CanvasRefresh::idle_wait_ms(Clock::time_point now) const {
  if (!behind_) return -1;
  int wait = -1;
  if (when_data_stop_) wait = milliseconds_until(last_event_ + kStoppedAfter, now);
  if (interval_) {
    const int until_interval = milliseconds_until(last_redraw_ + *interval_, now);
    wait = wait < 0 ? until_interval : std::min(wait, until_interval);
  }
  return wait;
}

}  // namespace kivo::host
