#include "tracking_test_support.h"

#include "TH2F.h"

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

Fault move_hits(int stave, long long from, std::function<bool(int& column, int& row)> move) {
  return [=](long long index, EventPixels& event) {
    if (index < from) return;
    std::vector<unsigned> moved;
    for (unsigned k : event.pixels[static_cast<std::size_t>(stave)]) {
      int column = column_of(k), row = row_of(k);
      if (move(column, row)) moved.push_back(key(column, row));
    }
    event.pixels[static_cast<std::size_t>(stave)] = std::move(moved);
  };
}

Settings every_event() {
  Settings settings;
  settings.cost_share = 1000;
  return settings;
}

TrackedRun track_run(const sim::SimConfig& config, long long events, const Fault& fault, Settings settings,
                     bool asked) {
  TrackedRun run;
  auto log = std::make_shared<std::vector<std::string>>();
  run.tracker = std::make_unique<Tracker>(settings, [log](const std::string& line) { log->push_back(line); });
  sim::SimConfig c = config;
  c.events = events;
  sim::Simulator simulator(c);
  for (long long i = 0; i < events; ++i) {
    EventPixels event = pixels_of(simulator.data_event(static_cast<std::uint32_t>(i + 1)));
    if (fault) fault(i, event);
    KivoEventHits hits = event.view();
    if (asked && !run.tracker->wants_event())
      for (const unsigned*& pixels : hits.pixels) pixels = nullptr;
    run.tracker->process(hits);
  }
  run.log = *log;
  return run;
}

namespace {

double sum_over(const TH2F* map, int chip) {
  const int first = chip < 0 ? 1 : chip * 16 + 1, last = chip < 0 ? map->GetNbinsX() : chip * 16 + 16;
  return map->Integral(first, last, 1, map->GetNbinsY(), "");
}

}  // namespace

double tracks(const Objects& objects, int stave, int chip) {
  return sum_over(objects.track_total[static_cast<std::size_t>(stave)], chip);
}

double efficiency(const Objects& objects, int stave, int chip) {
  const double total = tracks(objects, stave, chip);
  return total > 0 ? sum_over(objects.track_matched[static_cast<std::size_t>(stave)], chip) / total : 0;
}

}  // namespace kivo::tracking::testing
