// /metrics: kivo's figures in Prometheus's text exposition format (0.0.4),
// for the facility's monitoring. A scrape reads only what is kept up to date
// as kivo goes: counters the event thread stores as it processes, the data
// quality the event thread copies after each judgement, counts the alarm and
// archive threads keep, and the kernel's figures of the process. It never
// waits for the event thread and never passes over a hit map. The stand is
// the label Prometheus gives its target; kivo_stand_info{name="STAND"} says
// the name kivo was given (--name). docs/metrics.md lists them all.
#ifndef KIVO_HOST_WEB_METRICS_H
#define KIVO_HOST_WEB_METRICS_H

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Activity.h"

struct mg_connection;

namespace kivo::web {

// What the host counts as it goes. One writer, the event thread; any thread reads.
struct HostFigures {
  std::atomic<std::uint64_t> events_processed{0};
  std::atomic<std::uint64_t> records_rejected{0};
  std::atomic<std::uint64_t> canvas_updates{0};
  std::atomic<int> sources_open{0};
  std::atomic<int> run{0};
  std::atomic<long> data_events{0};  // of the run

  // The writer's increment: no read-modify-write cycle is needed with one writer.
  static void add_one(std::atomic<std::uint64_t>& counter) {
    counter.store(counter.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
  }
};

inline constexpr int kMetricStaves = 4;
inline constexpr int kMetricChips = 9;

// The data quality as last judged, copied for /metrics.
struct QualityFigures {
  // Stave or chip not applicable to a verdict (a check of the whole detector).
  static constexpr int kNone = -1;
  struct Verdict {
    std::string check;
    int stave = kNone;
    int chip = kNone;
    int value = 0;  // 0 Null, 1 Good, 2 Medium, 3 Bad
  };
  struct Beam {
    double column, row;                // centre: stave-wide column, displayed row
    double column_width, row_width;    // fitted sigmas, in columns and rows
  };
  using ChipValues = std::array<std::array<double, kMetricChips>, kMetricStaves>;

  std::vector<Verdict> verdicts;
  int overall = 0;
  std::optional<ChipValues> hits_per_event;  // over the last refresh window
  std::array<std::optional<Beam>, kMetricStaves> beams;
  // With tracking: each stave's share of the tracks of the other three that
  // found its cluster, over the last refresh window (none without tracks
  // there), and the tracks built for all staves since kivo started.
  std::array<std::optional<double>, kMetricStaves> stave_efficiency;
  std::optional<double> tracks_total;
};

// Counts that other threads keep, read at each scrape.
struct LiveCounts {
  long alarms_raised = 0, alarms_held_back = 0;
  long runs_written = 0, runs_failed = 0;
  std::uint64_t bytes_written = 0;
  bool registry = false;  // a run registry is kept
  long registry_pending = 0, registry_written = 0;
};

// The addresses that polled the page's updates recently: pages open now.
class PageClients {
 public:
  // How long after its last poll a page still counts as open.
  static constexpr std::chrono::seconds kOpenFor{5};

  void polled(const std::string& address);
  int open() const;

 private:
  void forget_closed(std::chrono::steady_clock::time_point now);

  mutable std::mutex mutex_;
  std::map<std::string, std::chrono::steady_clock::time_point> last_poll_;
};

class Metrics {
 public:
  // The Content-Type of the text().
  static constexpr const char* kContentType = "text/plain; version=0.0.4; charset=utf-8";

  Metrics();

  // The stand's name that kivo_stand_info carries; set before the server starts.
  void set_stand(std::string stand) { stand_ = std::move(stand); }
  const std::string& stand() const { return stand_; }
  // Where the event counts, rate and host counters come from.
  void attach(std::shared_ptr<const Activity> activity, std::shared_ptr<const HostFigures> host);
  // The data quality just judged.
  void publish(std::shared_ptr<const QualityFigures> quality);
  // Called at each scrape until replaced; null stops it (before what it reads goes away).
  void set_live_counts(std::function<LiveCounts()> read);
  PageClients& page_clients() { return page_clients_; }

  // Every series as they stand now.
  std::string text() const;
  // Answers a request for /metrics with text(); returns the status.
  int respond(mg_connection* connection, bool head) const;

 private:
  std::string stand_;
  PageClients page_clients_;
  mutable std::mutex mutex_;
  std::shared_ptr<const Activity> activity_;
  std::shared_ptr<const HostFigures> host_;
  std::shared_ptr<const QualityFigures> quality_;
  // Held while it is called, so that set_live_counts(nullptr) waits for a scrape that uses it.
  mutable std::mutex live_mutex_;
  std::function<LiveCounts()> live_counts_;
  std::optional<double> start_time_;  // seconds since 1970, when the kernel tells
};

// Label values of the exposition format: backslash, double quote and new line escaped.
std::string escape_label_value(const std::string& value);

}  // namespace kivo::web

#endif
