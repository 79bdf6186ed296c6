#ifndef KIVO_HOST_WEB_ACTIVITY_H
#define KIVO_HOST_WEB_ACTIVITY_H

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

namespace kivo::web {

// How data is arriving, for the page header and sources(): events per second
// over the last seconds, when the last event came, whether sources are open,
// whether the last event ended a run, and how many data events the monitor
// holds. The event-processing thread records; any thread reads.
class Activity {
 public:
  enum class Sources { none, open, finished };

  // The clocks read, in ns: a monotonic one for the rate and the idle time,
  // the wall clock for the times shown.
  struct Clocks {
    std::int64_t (*monotonic_ns)();
    std::int64_t (*wall_ns)();
  };
  static Clocks system_clocks();

  // Seconds over which the rate is taken.
  static constexpr double kRateWindow = 5;
  // Seconds without an event after which open sources count as waiting; the
  // rate then reads 0, and the first event after such a pause starts its
  // measurement anew.
  static constexpr double kWaitingAfter = 3;

  explicit Activity(Clocks clocks = system_clocks());

  // One event processed: a count, a clock read and now and then a sample.
  void record_event();
  // The event just recorded ended run `run`; the next event clears it.
  void record_run_end(int run);
  // Data events the monitor counts in its run (those the canvas would show
  // if it were refreshed now).
  void set_monitor_events(long events) { monitor_events_.store(events, std::memory_order_relaxed); }
  void set_sources(Sources sources) { sources_.store(sources, std::memory_order_relaxed); }

  struct Reading {
    std::uint64_t events = 0;
    double rate = 0;                  // events per second over the last kRateWindow seconds
    std::int64_t last_event_ms = 0;   // wall-clock time of the last event, ms since 1970; 0 before any
    double idle_seconds = 0;          // since the last event, or since the start before any
    Sources sources = Sources::none;
    long monitor_events = 0;
    bool run_ended = false;           // the last event was the end of run ended_run
    int ended_run = 0;
  };
  Reading read() const;

  // "live", "waiting", "finished" (every source read) or "idle" (none opened).
  static const char* state(const Reading& reading);
  // {"state":..,"events":..,"rate":..,"last_event":..,"idle":..,"monitor_events":..,
  //  "ended":{"run":..,"at":MS}|null}
  static std::string json(const Reading& reading);

 private:
  struct Sample {
    std::int64_t ns;
    std::uint64_t events;
  };
  void add_sample(std::int64_t now_ns, std::uint64_t events, bool after_pause);

  const Clocks clocks_;
  const std::int64_t start_ns_;
  std::atomic<std::uint64_t> events_{0};
  std::atomic<std::int64_t> last_event_ns_{0};
  std::atomic<Sources> sources_{Sources::none};
  std::atomic<long> monitor_events_{0};
  std::atomic<int> ended_run_{-1};    // -1: the last event did not end a run
  std::int64_t next_sample_ns_ = 0;  // event thread only
  mutable std::mutex samples_mutex_;
  std::deque<Sample> samples_;       // counts before an event, every kSampleInterval while events flow
};

}  // namespace kivo::web

#endif
