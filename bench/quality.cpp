// The data-quality checks and trends at a refresh: one refresh (OM) with and
// without them, on full maps as after a long noisy run and on the sparse maps
// of a simulated run, and the resident memory of a long run judged at every
// refresh.
#include <dlfcn.h>

#include <algorithm>
#include <memory>
#include <string>

#include "EventRecord.h"
#include "Quality.h"
#include "Tracker.h"
#include "Simulator.h"
#include "bench.h"
#include "kivo.h"
#include "monitor_plugin.h"
#include "monitor_maps.h"
#include "sample_run.h"

namespace {

// Refreshes timed on each side, the best taken: the checks add a few per cent
// to a refresh, and with fewer runs the machine's other load moved the ratio
// by as much (0.93 to 1.04 at 61 runs with the same refresh on both sides).
constexpr int kRuns = 101;
constexpr std::uint32_t kSparseEvents = 20000;
constexpr std::uint32_t kMovingEvents = 2 * kRuns;  // one before each timed refresh
constexpr double kEventRate = 20000;  // any rate: the trends only record it
constexpr std::uint32_t kRefreshInterval = 1000;
constexpr double kDenseNoise = 50;
constexpr int kDenseRefreshes = 40;  // on each side: 80000 events in all

std::unique_ptr<kivo::quality::Quality> checks_on_the_monitor() {
  std::string missing;
  std::optional<kivo::quality::MonitorInputs> inputs = kivo::quality::resolve_inputs(
      [](const char* name) { return dlsym(RTLD_DEFAULT, name); }, missing);
  if (!inputs) std::fprintf(stderr, "kivo-bench: the monitor lacks %s\n", missing.c_str());
  return std::make_unique<kivo::quality::Quality>(kivo::quality::Setup{}, inputs, [](const std::string&) {});
}

// One event and a refresh with the checks and trends, in turns with the same
// without the checks. The event moves the maps and the event count before
// each refresh, as in a live run, so nothing the checks kept from the last
// refresh can stand in for this one's work.
kivo::bench::Result refresh_with_checks() {
  std::unique_ptr<kivo::quality::Quality> quality = checks_on_the_monitor();
  const kivo::bench::SampleRun events = kivo::bench::simulate_run(kMovingEvents);
  std::size_t next = 0;
  const auto one_event = [&] {
    process_event(kivo::eventio::make_event(events.data[next++ % events.data.size()]).get());
  };
  double path_seconds = 0, limit_seconds = 0;
  kivo::bench::silently([&] {
    OM();
    quality->evaluate(kEventRate);
    kivo::bench::alternate_best_seconds(
        kRuns,
        [&] {
          one_event();
          OM();
          quality->evaluate(kEventRate);
        },
        [&] {
          one_event();
          OM();
        },
        path_seconds, limit_seconds);
  });
  return kivo::bench::time_result(path_seconds, "the same refresh without them", limit_seconds, 1.1);
}

// The track reconstruction fed by the monitor's hits, as kivo runs it, for
// as long as it is alive.
class AttachedTracker {
 public:
  explicit AttachedTracker(kivo::quality::Quality& quality)
      : tracker_(kivo::tracking::Settings{}, [](const std::string&) {}) {
    const KivoHitSink sink = kivo::tracking::hit_sink_of(tracker_);
    kivo_set_hit_sink(&sink);
    quality.attach_tracking(&tracker_);
  }
  ~AttachedTracker() { kivo_set_hit_sink(nullptr); }
  AttachedTracker(const AttachedTracker&) = delete;
  AttachedTracker& operator=(const AttachedTracker&) = delete;

 private:
  kivo::tracking::Tracker tracker_;
};

// A long dense run (50 noise hits per stave and event, simulated as it goes)
// refreshed every 1000 events, as users meet it: before each timed refresh
// 1000 new events are processed, untimed, so that each refresh brings its analysis up to date
// and the checks judge with the windows and baselines a live run gives
// them. Sides alternate, each refresh timed alone; the medians are taken,
// steadier than the best under a shared machine's load. With `tracks`, the
// reconstruction takes the events as kivo lets it and the checks on tracks
// judge too.
kivo::bench::Result checks_on_a_dense_run(bool tracks) {
  std::unique_ptr<kivo::quality::Quality> quality = checks_on_the_monitor();
  std::unique_ptr<AttachedTracker> tracker = tracks ? std::make_unique<AttachedTracker>(*quality) : nullptr;
  kivo::sim::SimConfig config;
  config.noise = kDenseNoise;
  config.events = 2 * kDenseRefreshes * kRefreshInterval;
  kivo::sim::Simulator simulator(config);
  std::uint32_t sequence = 0;
  std::vector<double> with_checks, without;
  kivo::bench::silently([&] {
    pinit();
    process_event(kivo::eventio::make_event(simulator.begin_run(sequence++)).get());
    const auto refresh_interval = [&] {
      for (std::uint32_t i = 0; i < kRefreshInterval; ++i)
        process_event(kivo::eventio::make_event(simulator.data_event(sequence++)).get());
    };
    for (int i = 0; i < kDenseRefreshes; ++i) {
      refresh_interval();
      without.push_back(kivo::bench::best_seconds(1, [] { OM(); }));
      refresh_interval();
      with_checks.push_back(kivo::bench::best_seconds(1, [&] {
        OM();
        quality->evaluate(kEventRate);
      }));
    }
  });
  const auto median = [](std::vector<double> values) {
    std::nth_element(values.begin(), values.begin() + static_cast<long>(values.size() / 2), values.end());
    return values[values.size() / 2];
  };
  return kivo::bench::time_result(median(with_checks), "the same refresh without them", median(without), 1.1);
}

kivo::bench::Result checks_on_full_maps() {
  kivo::bench::fill_maps();
  return refresh_with_checks();
}

kivo::bench::Result checks_on_sparse_maps() {
  kivo::bench::process_sample_run(kSparseEvents);
  return refresh_with_checks();
}

// A simulated run refreshed and judged every 100 events.
kivo::bench::Result judged_run_memory() {
  return kivo::bench::memory_result(kivo::bench::child_resident_megabytes([] {
    pinit();
    set_refresh(100);
    std::unique_ptr<kivo::quality::Quality> quality = checks_on_the_monitor();
    kivo::sim::SimConfig config;
    config.events = kSparseEvents;
    kivo::sim::Simulator simulator(config);
    kivo::bench::silently([&] {
      process_event(kivo::eventio::make_event(simulator.begin_run(0)).get());
      for (std::uint32_t sequence = 1; sequence <= kSparseEvents; sequence++) {
        process_event(kivo::eventio::make_event(simulator.data_event(sequence)).get());
        if (sequence % 100 == 1) quality->evaluate(kEventRate);
      }
    });
  }));
}

}  // namespace

KIVO_BENCH("quality full maps", "OM() then the data-quality checks and trends, full maps", checks_on_full_maps);
KIVO_BENCH("quality dense run", "a refresh every 1000 events of a long dense run, with the checks and trends",
           [] { return checks_on_a_dense_run(false); });
KIVO_BENCH("quality dense run, tracks",
           "the same with the track reconstruction fed and the checks on tracks judging, against OM() alone",
           [] { return checks_on_a_dense_run(true); });
KIVO_BENCH("quality sparse maps", "OM() then the data-quality checks and trends after a simulated run",
           checks_on_sparse_maps);
KIVO_BENCH("quality memory", "resident memory after a run refreshed and judged every 100 events", judged_run_memory);
