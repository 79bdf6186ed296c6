#include "long_run.h"

#include <algorithm>

#include "EventRecord.h"
#include "Simulator.h"
#include "TH2F.h"
#include "bench.h"
#include "kivo.h"
#include "monitor_maps.h"
#include "monitor_state.h"

namespace kivo::bench {

namespace {

// Noise hits per stave and event, and particles per event (about as many
// hits again, around the beam): a few hundred events reach the occupancy,
// with the beam standing out of the noise as in a long run.
constexpr double kNoiseHits = 20000;
constexpr double kParticles = 8000;

void begin_run() {
  pinit();
  start_run();
  kivo_refresh = -1;
}

double least_occupancy() {
  double least = 1;
  for (int s = 0; s < NSTAVE; s++) {
    const TH2F& map = *h2d_chip[s];
    int hit = 0;
    for (int y = 1; y <= map.GetNbinsY(); y++)
      for (int x = 1; x <= map.GetNbinsX(); x++) hit += map.GetBinContent(x, y) > 0;
    least = std::min(least, static_cast<double>(hit) / (map.GetNbinsX() * map.GetNbinsY()));
  }
  return least;
}

}  // namespace

double fill_long_noisy_run(double occupancy) {
  begin_run();
  sim::SimConfig config;
  config.noise = kNoiseHits;
  config.particles = kParticles;
  sim::Simulator simulator(config);
  std::uint32_t sequence = 0;
  double reached = 0;
  silently([&] {
    while ((reached = least_occupancy()) < occupancy)
      for (int i = 0; i < 50; i++)
        process_event(eventio::make_event(simulator.data_event(++sequence)).get());
  });
  return reached;
}

double fill_short_run(int events) {
  begin_run();
  sim::SimConfig config;
  sim::Simulator simulator(config);
  silently([&] {
    for (int sequence = 1; sequence <= events; sequence++)
      process_event(eventio::make_event(simulator.data_event(sequence)).get());
  });
  return least_occupancy();
}

}  // namespace kivo::bench
