// Events of kivo-sim's simulator as the monitor hands them to the track
// reconstruction: each stave's hits as pixel keys, in decoding order.
#ifndef KIVO_TESTS_TRACKING_SIMULATED_HITS_H
#define KIVO_TESTS_TRACKING_SIMULATED_HITS_H

#include <array>
#include <vector>

#include "EventRecord.h"
#include "Simulator.h"
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

// A pixel key.
inline unsigned key(int column, int row) { return static_cast<unsigned>(column * kPixelKeyRows + row); }

}  // namespace kivo::tracking::testing

#endif
