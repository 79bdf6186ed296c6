#ifndef KIVO_HOST_WEB_ACTIVITY_H
#define KIVO_HOST_WEB_ACTIVITY_H

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

namespace kivo::web {

// How data is arriving, for the page header and sources(): events per second
// over the last seconds, when the last event came, and whether sources are
// open. The event-processing thread records; any thread reads.
class Activity {
 public:
  enum class Sources { none, open, finished };

  // Seconds over which the rate is taken.
  static constexpr double kRateWindow = 5;
  // Seconds without an event after which open sources count as waiting.
  static constexpr double kWaitingAfter = 3;

  Activity();

  // One event processed: a count, a clock read and now and then a sample.
  void record_event();
  void set_sources(Sources sources) { sources_.store(sources, std::memory_order_relaxed); }

  struct Reading {
    std::uint64_t events = 0;
    double rate = 0;                  // events per second over the last kRateWindow seconds
    std::int64_t last_event_ms = 0;   // wall-clock time of the last event, ms since 1970; 0 before any
    double idle_seconds = 0;          // since the last event, or since the start before any
    Sources sources = Sources::none;
  };
  Reading read() const;

  // "live", "waiting", "finished" (every source read) or "idle" (none opened).
  static const char* state(const Reading& reading);
  // {"state":..,"events":..,"rate":..,"last_event":..,"idle":..}
  static std::string json(const Reading& reading);

 private:
  struct Sample {
    std::int64_t ns;
    std::uint64_t events;
  };
  void add_sample(std::int64_t now_ns, std::uint64_t events);

  const std::int64_t start_ns_;
  std::atomic<std::uint64_t> events_{0};
  std::atomic<std::int64_t> last_event_ns_{0};
  std::atomic<Sources> sources_{Sources::none};
  std::int64_t next_sample_ns_ = 0;  // event thread only
  mutable std::mutex samples_mutex_;
  std::deque<Sample> samples_;       // counts before an event, every kSampleInterval while events flow
};

}  // namespace kivo::web

#endif
