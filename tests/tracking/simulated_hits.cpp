#include "simulated_hits.h"

namespace kivo::tracking::testing {

KivoEventHits EventPixels::view() const {
  KivoEventHits hits{};
  for (int s = 0; s < kMonitorStaves; ++s) {
    hits.pixels[s] = pixels[s].data();
    hits.count[s] = static_cast<int>(pixels[s].size());
  }
  return hits;
}

EventPixels pixels_of(const eventio::EventRecord& record) {
  EventPixels event;
  for (const eventio::UnitWords& unit : record.units)
    for (const eventio::ChannelWords& channel : unit.channels)
      for (int s = 0; s < sim::kStaves; ++s)
        for (int c = 0; c < sim::kChipsPerStave; ++c) {
          const sim::ReadoutChannel wired = sim::channel_of(s, c);
          if (wired.ruid != unit.ruid || wired.ruchn != channel.ruchn) continue;
          for (std::uint32_t word : channel.words) {
            const int row = static_cast<int>(word >> 16), col = static_cast<int>(word & 0xffff);
            if (col < sim::kChipColumns && row < sim::kChipRows)
              event.pixels[s].push_back(key(c * sim::kChipColumns + col, row));
          }
        }
  return event;
}

std::vector<EventPixels> simulate(sim::SimConfig config, long long events) {
  config.events = events;
  sim::Simulator simulator(config);
  std::vector<EventPixels> out;
  out.reserve(static_cast<std::size_t>(events));
  for (long long i = 0; i < events; ++i)
    out.push_back(pixels_of(simulator.data_event(static_cast<std::uint32_t>(i + 1))));
  return out;
}

}  // namespace kivo::tracking::testing
