// Events of kivo-sim's simulator as the monitor hands them to the track
// reconstruction (each stave's hits as pixel keys, in decoding order),
// faults made by changing them, and runs of the reconstruction over them.
#ifndef KIVO_TESTS_TRACKING_TRACKING_TEST_SUPPORT_H
#define KIVO_TESTS_TRACKING_TRACKING_TEST_SUPPORT_H

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "EventRecord.h"
#include "Simulator.h"
#include "Tracker.h"
#include "monitor_plugin.h"

namespace kivo::tracking::testing {

struct EventPixels {
  std::array<std::vector<unsigned>, kMonitorStaves> pixels;
  // A view for Tracker::process, valid while this lives unchanged.
  KivoEventHits view() const;
};

// The in-range hits of `record`'s detector packet, by the detector's channel map.
EventPixels pixels_of(const eventio::EventRecord& record);

// `events` data events of a simulator with `config`.
std::vector<EventPixels> simulate(sim::SimConfig config, long long events);

// A pixel key, and its column and row.
inline unsigned key(int column, int row) { return static_cast<unsigned>(column * kPixelKeyRows + row); }
inline int column_of(unsigned key) { return static_cast<int>(key) / kPixelKeyRows; }
inline int row_of(unsigned key) { return static_cast<int>(key) % kPixelKeyRows; }

// Changes event `index` (from 0) of a run before the reconstruction sees it.
using Fault = std::function<void(long long index, EventPixels& event)>;

// Replaces every hit of stave `stave` from event `from` on by `move(column,
// row)`, which returns false to drop the hit.
Fault move_hits(int stave, long long from, std::function<bool(int& column, int& row)> move);

struct TrackedRun {
  std::unique_ptr<Tracker> tracker;
  std::vector<std::string> log;  // the lines reported
};

// Settings that take every event, whatever it costs.
Settings every_event();

// A simulated run of `events` with `config`, `fault` applied, through a
// tracker with `settings` (by default one that takes every event); when
// `asked`, the tracker is asked before each event whether it wants its
// hits, as the monitor asks it, and is handed only the counts otherwise.
TrackedRun track_run(const sim::SimConfig& config, long long events, const Fault& fault = {},
                     Settings settings = every_event(), bool asked = false);

// Efficiency of stave `stave` over chip `chip` (-1: the whole stave): matched / total.
double efficiency(const Objects& objects, int stave, int chip = -1);
double tracks(const Objects& objects, int stave, int chip = -1);

}  // namespace kivo::tracking::testing

#endif
