// The event rate of the host: events processed per second of wall-clock
// time over the last few seconds, for sources(), the trends and the page.
#ifndef KIVO_HOST_EVENT_RATE_H
#define KIVO_HOST_EVENT_RATE_H

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>

namespace kivo::host {

class EventRate {
 public:
  using Clock = std::chrono::steady_clock;

  // `total` events have been processed by `now`.
  void count(std::uint64_t total, Clock::time_point now);
  // Events per second over about the last five seconds (0 when none came in
  // that time); nullopt until time has passed since the first count.
  std::optional<double> rate(Clock::time_point now) const;

 private:
  struct Sample {
    Clock::time_point time;
    std::uint64_t total;
  };
  std::deque<Sample> samples_;  // at least kSpacing apart, oldest first
  Sample latest_{};
};

}  // namespace kivo::host

#endif
