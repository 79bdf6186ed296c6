#include "Activity.h"

#include <time.h>

#include <algorithm>
#include <cstdio>

namespace kivo::web {

namespace {

constexpr std::int64_t kNsPerSecond = 1000000000;
constexpr std::int64_t kSampleIntervalNs = kNsPerSecond / 4;
constexpr auto kWindowNs = static_cast<std::int64_t>(Activity::kRateWindow * kNsPerSecond);
constexpr auto kPauseNs = static_cast<std::int64_t>(Activity::kWaitingAfter * kNsPerSecond);
// The shortest span a rate is taken over: right after a pause, a few events
// over a few milliseconds say nothing of the rate yet.
constexpr std::int64_t kShortestSpanNs = kSampleIntervalNs;

// The coarse clocks cost a few nanoseconds, little enough for every event.
std::int64_t clock_ns(clockid_t clock) {
  timespec now{};
  clock_gettime(clock, &now);
  return now.tv_sec * kNsPerSecond + now.tv_nsec;
}

std::int64_t monotonic_ns() { return clock_ns(CLOCK_MONOTONIC_COARSE); }
std::int64_t wall_ns() { return clock_ns(CLOCK_REALTIME_COARSE); }

double seconds(std::int64_t ns) { return static_cast<double>(ns) / kNsPerSecond; }

}  // namespace

Activity::Clocks Activity::system_clocks() { return {monotonic_ns, wall_ns}; }

Activity::Activity(Clocks clocks) : clocks_(clocks), start_ns_(clocks.monotonic_ns()) {}

void Activity::record_event() {
  const std::int64_t now = clocks_.monotonic_ns();
  const std::uint64_t before = events_.load(std::memory_order_relaxed);
  const std::int64_t last = last_event_ns_.load(std::memory_order_relaxed);
  const bool after_pause = last > 0 && now - last > kPauseNs;
  if (now >= next_sample_ns_ || after_pause) add_sample(now, before, after_pause);
  events_.store(before + 1, std::memory_order_relaxed);
  last_event_ns_.store(now, std::memory_order_relaxed);
  ended_run_.store(-1, std::memory_order_relaxed);
}

void Activity::record_run_end(int run) { ended_run_.store(run, std::memory_order_relaxed); }

// Keeps one sample at or before the start of the window, so that the rate
// always spans the whole window once events have flowed that long. After a
// pause the earlier samples go: the rate is that of the events since.
void Activity::add_sample(std::int64_t now_ns, std::uint64_t events, bool after_pause) {
  next_sample_ns_ = now_ns + kSampleIntervalNs;
  std::lock_guard lock(samples_mutex_);
  if (after_pause) samples_.clear();
  samples_.push_back({now_ns, events});
  while (samples_.size() > 2 && samples_[1].ns <= now_ns - kWindowNs) samples_.pop_front();
}

Activity::Reading Activity::read() const {
  const std::int64_t now = clocks_.monotonic_ns();
  Reading reading;
  reading.sources = sources_.load(std::memory_order_relaxed);
  reading.events = events_.load(std::memory_order_relaxed);
  reading.monitor_events = monitor_events_.load(std::memory_order_relaxed);
  const int ended = ended_run_.load(std::memory_order_relaxed);
  reading.run_ended = ended >= 0;
  reading.ended_run = std::max(ended, 0);
  const std::int64_t last = last_event_ns_.load(std::memory_order_relaxed);
  reading.idle_seconds = seconds(now - (last > 0 ? last : start_ns_));
  if (last > 0) reading.last_event_ms = (clocks_.wall_ns() - (now - last)) / 1000000;
  if (last <= 0 || now - last > kPauseNs) return reading;  // paused: rate 0
  std::lock_guard lock(samples_mutex_);
  // The newest sample at or before the window's start, else the first one.
  const Sample* base = nullptr;
  for (const Sample& sample : samples_) {
    if (base == nullptr || sample.ns <= now - kWindowNs) base = &sample;
  }
  if (base != nullptr) {
    const std::int64_t span = std::max(now - base->ns, kShortestSpanNs);
    reading.rate = static_cast<double>(reading.events - base->events) / seconds(span);
  }
  return reading;
}

const char* Activity::state(const Reading& reading) {
  switch (reading.sources) {
    case Sources::none:
      return "idle";
    case Sources::finished:
      return "finished";
    case Sources::open:
      break;
  }
  return reading.idle_seconds > kWaitingAfter ? "waiting" : "live";
}

std::string Activity::json(const Reading& reading) {
  char ended[64] = "null";
  if (reading.run_ended)
    std::snprintf(ended, sizeof ended, R"({"run":%d,"at":%lld})", reading.ended_run,
                  static_cast<long long>(reading.last_event_ms));
  char text[384];
  std::snprintf(text, sizeof text,
                R"({"state":"%s","events":%llu,"rate":%.1f,"last_event":%lld,"idle":%.1f,"monitor_events":%ld,)"
                R"("ended":%s})",
                state(reading), static_cast<unsigned long long>(reading.events), reading.rate,
                static_cast<long long>(reading.last_event_ms), reading.idle_seconds, reading.monitor_events, ended);
  return text;
}

}  // namespace kivo::web
