// kivo-canvas-sample OUT.json [STREAM]
// Books the monitor, feeds it a short run and writes the canvas that the last
// OM call publishes to OUT.json. The run is read from STREAM when given, else a
// small synthetic one is made here: a beam on chip 4 of every stave, shifted a
// little per stave, and one hot pixel on stave 1.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <random>
#include <string>

#include "CanvasPublisher.h"
#include "RootJSON.h"
#include "EventRecord.h"
#include "StreamReader.h"
#include "TCanvas.h"
#include "kivo.h"
#include "monitor_plugin.h"

namespace {

using kivo::eventio::EventRecord;

// Readout unit and channel wired to chip 4 of each stave.
constexpr int kChip4Unit[4] = {1, 2, 1, 1};
constexpr int kChip4Channel[4] = {5, 5, 22, 13};
constexpr int kEvents = 400;

EventRecord begin_run(int run) {
  EventRecord record;
  record.type = kivo::eventio::kBeginRunEventType;
  record.run = run;
  return record;
}

EventRecord beam_event(std::mt19937& random, int run) {
  EventRecord record;
  record.run = run;
  record.has_packet = true;
  std::normal_distribution<double> col(512, 40);
  std::normal_distribution<double> row(256, 30);
  std::poisson_distribution<int> hits(12);
  for (int stave = 0; stave < 4; stave++) {
    for (int n = hits(random); n > 0; n--) {
      auto c = static_cast<std::uint32_t>(col(random) + 8 * stave) & 1023;
      auto r = static_cast<std::uint32_t>(row(random) - 5 * stave) & 511;
      record.add_word(kChip4Unit[stave], kChip4Channel[stave], r << 16 | c);
    }
  }
  record.add_word(kChip4Unit[1], kChip4Channel[1], 100u << 16 | 900u);
  return record;
}

void feed_synthetic_run() {
  std::mt19937 random(7);
  process_event(kivo::eventio::make_event(begin_run(1)).get());
  for (int i = 0; i < kEvents; i++)
    process_event(kivo::eventio::make_event(beam_event(random, 1)).get());
}

bool feed_stream(const std::string& path) {
  std::string error;
  auto reader = kivo::eventio::StreamReader::open(path, false, error);
  if (!reader) {
    std::cerr << "kivo-canvas-sample: " << error << "\n";
    return false;
  }
  while (!reader->finished()) {
    if (auto event = reader->next()) process_event(event.get());
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::cerr << "usage: kivo-canvas-sample OUT.json [STREAM]\n";
    return 2;
  }
  std::string canvas_json;
  rootcompat::SetCanvasPublisher([&](const TCanvas& canvas) {
    kivo_materialise_maps();  // the canvas carries them whole
    canvas_json = rootcompat::ToJSON(canvas);
  });
  pinit();
  if (argc == 3) {
    if (!feed_stream(argv[2])) return 1;
  } else {
    feed_synthetic_run();
  }
  OM();
  std::ofstream out(argv[1]);
  out << canvas_json;
  if (!out.flush()) {
    std::cerr << "kivo-canvas-sample: cannot write " << argv[1] << "\n";
    return 1;
  }
  return 0;
}
