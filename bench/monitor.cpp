// Monitor hot paths: event processing of simulated events held in memory, the
// analysis of full hit maps, the two hot-pixel scans, one publish of the
// monitoring canvas, and the resident memory of a booked monitor after a run
// and its analysis.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "EventRecord.h"
#include "RootJSON.h"
#include "Simulator.h"
#include "TCanvas.h"
#include "TH1F.h"
#include "TH2F.h"
#include "bench.h"
#include "event_limit.h"
#include "long_run.h"
#include "map_pass.h"
#include "monitor_maps.h"
#include "sample_run.h"
#include "monitor_plugin.h"
#include "kivo.h"
#include "monitor_state.h"

namespace {

constexpr std::uint32_t kEvents = 20000;
constexpr int kRuns = 7;
using kivo::bench::kMapCells;
using kivo::bench::kMapColumns;
using kivo::bench::map_pass_result;
using kivo::bench::fill_maps;
using kivo::bench::silently;
using kivo::bench::start_run;

// Masks each stave's hot pixels (those above 1% of `events`) in the stave
// correlations, as the data-quality checks of kivo do after their first
// refreshes.
void mask_hot_pixels(double events) {
  for (int s = 0; s < NSTAVE; s++) {
    std::vector<int> xbins(256), ybins(256);
    const int found = kivo_hot_cells(s, 0.01 * events, 10, xbins.data(), ybins.data(), 256, nullptr);
    kivo_set_correlation_mask(s, xbins.data(), ybins.data(), std::min(std::max(found, 0), 256));
  }
}

kivo::bench::Result event_processing(bool masked) {
  pinit();
  const auto records = kivo::bench::simulate_run(kEvents).data;
  std::vector<std::unique_ptr<Event>> events;
  for (const auto& record : records) events.push_back(kivo::eventio::make_event(record));
  const auto channels = kivo::bench::mapped_channels(records);
  const double hits = static_cast<double>(kivo::bench::count_hits(channels));
  auto maps = kivo::bench::limit_maps();
  if (masked) {
    silently([&] {
      for (const auto& event : events) process_event(event.get());
    });
    mask_hot_pixels(kEvents);
  }
  // Like the limit's maps, the hit maps are not emptied between the runs.
  start_run();
  double path_seconds = 0, limit_seconds = 0;
  silently([&] {
    kivo::bench::alternate_best_seconds(
        kRuns, [&] { for (const auto& event : events) process_event(event.get()); },
        [&] { kivo::bench::decode_and_increment(channels, maps); }, path_seconds, limit_seconds);
  });
  kivo::bench::keep(maps);
  return kivo::bench::rate_result(hits / path_seconds, "decode the same words into flat float maps",
                                  hits / limit_seconds, "hits/s", 0.5);
}

kivo::bench::Result analysis_of_full_maps() {
  fill_maps();
  analysis();
  return map_pass_result([] { analysis(); });
}

kivo::bench::Result hot_pixel_listing() {
  fill_maps();
  return map_pass_result([] { process_histos(1e9); });
}

// One publish of the monitoring canvas after a simulated run: the whole
// canvas serialised to ROOT JSON, as the display sends it (its hit maps made
// whole first).
kivo::bench::Result canvas_publish() {
  kivo::bench::process_sample_run(kEvents);
  kivo_materialise_maps();
  return map_pass_result([] { kivo::bench::keep(rootcompat::ToJSON(*com)); });
}

// The monitor's share of a refresh: at most three quarters of a
// multiply-copy of the maps, whatever they hold, so that a display's share
// fits beside it within one. Most of it is the eight beam-profile fits.
constexpr double kRefreshBar = 0.75;

// One refresh as a run with -b sees it: one more event, then OM() (the
// canvas built before), on maps filled as `fill` leaves them.
template <class Fill>
kivo::bench::Result refresh_after(Fill&& fill) {
  fill();
  const auto event = kivo::eventio::make_event(kivo::bench::simulate_run(1).data[0]);
  silently([] { OM(); });
  return map_pass_result(
      [&] {
        process_event(event.get());
        OM();
      },
      kRefreshBar);
}

kivo::bench::Result refresh_of_dense_maps() {
  return refresh_after([] { kivo::bench::fill_long_noisy_run(0.6); });
}

kivo::bench::Result refresh_of_sparse_maps() {
  return refresh_after([] { kivo::bench::fill_short_run(2000); });
}

// Contents of a file, or nothing when it does not exist; put back afterwards.
struct SavedFile {
  std::string path;
  bool existed;
  std::string contents;
};

SavedFile save_file(const char* path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream contents;
  contents << in.rdbuf();
  return {path, static_cast<bool>(in), contents.str()};
}

void restore_file(const SavedFile& file) {
  if (!file.existed) {
    std::filesystem::remove(file.path);
    return;
  }
  std::ofstream(file.path, std::ios::binary | std::ios::trunc) << file.contents;
}

kivo::bench::Result mask_writing() {
  fill_maps();
  const SavedFile tb1 = save_file(file_name_tb1);
  const SavedFile tb2 = save_file(file_name_tb2);
  const kivo::bench::Result result = map_pass_result([] { mask_pixels(1e9); });
  restore_file(tb1);
  restore_file(tb2);
  return result;
}

// Books, processes a simulated run event by event and analyses it.
kivo::bench::Result monitor_memory() {
  return kivo::bench::memory_result(kivo::bench::child_resident_megabytes([] {
    pinit();
    kivo::sim::SimConfig config;
    config.events = kEvents;
    kivo::sim::Simulator simulator(config);
    silently([&] {
      for (std::uint32_t sequence = 1; sequence <= kEvents; sequence++)
        process_event(kivo::eventio::make_event(simulator.data_event(sequence)).get());
      analysis();
    });
  }));
}

}  // namespace

KIVO_BENCH("monitor memory", "resident memory after booking, a run and analysis", monitor_memory);
KIVO_BENCH("monitor events", "process_event on simulated events held in memory",
           [] { return event_processing(false); });
KIVO_BENCH("monitor events, masked",
           "the same with the hot pixels masked in the stave correlations, as kivo's checks mask them",
           [] { return event_processing(true); });
KIVO_BENCH("monitor analysis", "analysis() on four full hit maps", analysis_of_full_maps);
KIVO_BENCH("process_histos scan", "process_histos(1e9) over four full hit maps", hot_pixel_listing);
KIVO_BENCH("mask_pixels scan", "mask_pixels(1e9) over four full hit maps", mask_writing);
KIVO_BENCH("refresh, dense maps", "one event and OM() without display, at least 60% of pixels hit",
           refresh_of_dense_maps);
KIVO_BENCH("refresh, sparse maps", "one event and OM() without display, 2000 simulated events",
           refresh_of_sparse_maps);
KIVO_BENCH("canvas publish", "the monitoring canvas after a simulated run, serialised to ROOT JSON", canvas_publish);
