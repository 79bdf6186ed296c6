// The live view's hot paths, on hit maps filled by a long noisy run (about two
// thirds of the pixels hit): one OM() with the display on, the event thread's
// and the display thread's shares of a publish, the bytes a page receives per
// update at any occupancy, ingestion while a page fetches every update (alone,
// with a crowd polling the status, with a client zooming wildly), and a
// snapshot's Node time.
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>

#include "CanvasPublisher.h"
#include "EventRecord.h"
#include "Gzip.h"
#include "LiveCanvas.h"
#include "RootJSON.h"
#include "Snapshot.h"
#include "TCanvas.h"
#include "TH1D.h"
#include "TH2F.h"
#include "ViewPublisher.h"
#include "ViewStore.h"
#include "bench.h"
#include "child_process.h"
#include "event_limit.h"
#include "http_client.h"
#include "http_crowd.h"
#include "kivo.h"
#include "map_pass.h"
#include "monitor_maps.h"
#include "monitor_plugin.h"
#include "monitor_state.h"
#include "sample_run.h"

namespace {

using kivo::bench::map_pass_result;
using kivo::bench::silently;
using kivo::web::HitMapSource;
using kivo::web::LiveCanvas;
using kivo::web::ViewPublisher;
using kivo::web::ViewStore;
using kivo::web::gzip;
using kivo::web::render_snapshot;

constexpr std::uint32_t kNoisyEvents = 30000;
constexpr double kNoisyNoise = 150;  // noise hits per stave and event: about 62% of pixels hit
constexpr int kRefresh = 1000;
constexpr int kProgramRuns = 3;
// Runs of kivo on the noisy file, each a second or less: the best of more of
// them, as the machine's other load moves a single run by a third.
constexpr int kIngestionRuns = 7;
constexpr double kMegabyte = 1e6;
constexpr std::chrono::milliseconds kPagePoll{20};

const kivo::bench::SampleRun& noisy_run() {
  static const kivo::bench::SampleRun run = kivo::bench::simulate_run(kNoisyEvents, kNoisyNoise);
  return run;
}

// The recent window kivo keeps with the display on (the occupancy check's shortest).
constexpr int kRecentWindow = 1000;

// Books the monitor and processes the noisy run event by event, keeping the
// recent window as kivo does with the display on.
void process_noisy_run() {
  pinit();
  kivo_set_recent_window(kRecentWindow);
  kivo::bench::start_run();
  silently([] {
    process_event(kivo::eventio::make_event(noisy_run().begin).get());
    for (const auto& record : noisy_run().data) process_event(kivo::eventio::make_event(record).get());
  });
}

HitMapSource monitor_maps() {
  return {h2d_chip_norm, kivo_norm_overview, kivo_norm_region, kivo_recent_window, kivo_recent_blocks};
}

// The display in this process: each canvas update copied and handed to the
// display thread, as kivo does with the display on.
struct Display {
  ViewStore store{"bench"};
  ViewPublisher publisher{store};
  LiveCanvas live{monitor_maps()};

  Display() {
    rootcompat::SetCanvasPublisher([this](const TCanvas& canvas) { publish(canvas); });
  }
  ~Display() { rootcompat::SetCanvasPublisher(nullptr); }
  Display(const Display&) = delete;
  Display& operator=(const Display&) = delete;

  void publish(const TCanvas& canvas) { publisher.publish(live.frame(canvas, {}, kivo_run, 0)); }
  // What a page that holds nothing is sent, compressed.
  std::string full_update() const { return gzip(store.update({"bench", 0, {}}, "null")); }
};

kivo::bench::Result om_with_display() {
  process_noisy_run();
  Display display;
  silently([] { OM(); });
  return map_pass_result([] { OM(); }, 1.0);
}

kivo::bench::Result live_copy() {
  process_noisy_run();
  Display display;
  silently([] { OM(); });
  return map_pass_result([&] { display.publish(*com); }, 0.25);
}

kivo::bench::Result live_serialise() {
  process_noisy_run();
  Display display;
  silently([] { OM(); });
  const auto frame = display.live.frame(*com, {}, kivo_run, 0);
  return map_pass_result([&] {
    display.store.publish(serialise(*frame));
    kivo::bench::keep(display.full_update());
  });
}

// The same with a page showing the four recent maps, whose window changes
// at each publish: two frames a window apart, published in turns, so that
// every update serialises the four recent maps anew.
kivo::bench::Result live_serialise_recent() {
  process_noisy_run();
  Display display;
  silently([] { OM(); });
  const auto first = display.live.frame(*com, {}, kivo_run, 0);
  silently([] {
    for (int e = 0; e < kRecentWindow; e++) process_event(kivo::eventio::make_event(noisy_run().data[e]).get());
  });
  const auto second = display.live.frame(*com, {}, kivo_run, 0);
  if (first->recent == second->recent) return {};
  kivo::web::ViewRequest watching{"bench", 0, {}, {}};
  for (int stave = 0; stave < NSTAVE; stave++) watching.recent.emplace_back(stave, 0);
  bool turn = false;
  return map_pass_result([&] {
    turn = !turn;
    display.store.publish(serialise(turn ? *first : *second));
    kivo::bench::keep(gzip(display.store.update(watching, "null")));
  });
}

// Raw maps with `occupancy` of the pixels hit: `floor` to `floor + spread`
// hits each, as after a run that long, and a beam spot of up to 200 more.
void fill_raw_maps(double occupancy, int floor, int spread) {
  for (int s = 0; s < NSTAVE; s++) {
    float* cells = h2d_chip[s]->GetArray();
    for (int y = 1; y <= 512; y++) {
      for (int x = 1; x <= 9216; x++) {
        const std::uint32_t hash = (std::uint32_t(x) * 2654435761u) ^ (std::uint32_t(y + 977 * s) * 40503u);
        const double dx = (x - 4609 - 40 * s) / 300.0, dy = (y - 257 - 8 * s) / 60.0;
        const float beam = std::floor(200 * std::exp(-0.5 * (dx * dx + dy * dy)));
        const bool hit = (hash % 10000) < occupancy * 10000;
        cells[y * kivo::bench::kMapColumns + x] = (hit ? floor + (hash >> 16) % (spread + 1) : 0) + beam;
      }
    }
    h2d_chip[s]->SetEntries(9216.0 * 512);
  }
  hnevnt->SetBinContent(1, 100000);
}

// The largest full update a page receives, over occupancies from a short
// demo run to a long run with every pixel hit many times.
kivo::bench::Result bytes_per_update() {
  struct Occupancy {
    double hit;
    int floor;
    int spread;
  };
  pinit();
  Display display;
  double largest = 0;
  for (const Occupancy& occupancy : {Occupancy{0.018, 1, 0}, Occupancy{0.11, 1, 2}, Occupancy{0.62, 1, 6},
                                     Occupancy{1.0, 1, 20}, Occupancy{1.0, 900, 200}}) {
    reset_histos();
    fill_raw_maps(occupancy.hit, occupancy.floor, occupancy.spread);
    silently([] { OM(); });
    display.publisher.demand(std::chrono::seconds(60));
    largest = std::max(largest, double(display.full_update().size()));
  }
  return kivo::bench::amount_result(largest / kMegabyte, "allowed per update", 1, "MB", 1.0);
}

// The body of a response, inflated when it came gzip-compressed.
std::string body_of(const HttpResponse& response) {
  if (response.header("content-encoding") != "gzip") return response.body;
  z_stream stream{};
  inflateInit2(&stream, 15 + 16);
  std::string out;
  char buffer[1 << 16];
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(response.body.data()));
  stream.avail_in = static_cast<uInt>(response.body.size());
  for (int status = Z_OK; status == Z_OK;) {
    stream.next_out = reinterpret_cast<Bytef*>(buffer);
    stream.avail_out = sizeof buffer;
    status = inflate(&stream, Z_NO_FLUSH);
    out.append(buffer, sizeof buffer - stream.avail_out);
  }
  inflateEnd(&stream);
  return out;
}

// The text of the JSON field `name` at the start of an update: its string
// or its number.
std::string update_field(const std::string& update, const std::string& name) {
  const auto at = update.find("\"" + name + "\":");
  if (at == std::string::npos) return {};
  const auto start = at + name.size() + 3 + (update[at + name.size() + 3] == '"' ? 1 : 0);
  return update.substr(start, update.find_first_of(",\"}", start) - start);
}

// Fetches every update kivo publishes on `port`, as the page does but 25
// times as often, until kivo goes away; each request also asks for the
// regions `zooms()` gives.
void watch(int port, const std::function<std::string()>& zooms = [] { return std::string(); }) {
  std::string instance = "none", held = "0";
  for (;; std::this_thread::sleep_for(kPagePoll)) {
    const std::string zoom = zooms();
    const HttpResponse update = http_request(
        port, "GET", "/update.json?instance=" + instance + "&since=" + held + (zoom.empty() ? "" : "&zoom=" + zoom),
        "Accept-Encoding: gzip\r\n");
    if (update.status != 200) return;
    const std::string body = body_of(update);
    instance = update_field(body, "instance");
    held = update_field(body, "version");
  }
}

// Eight regions of 2048 x 512 bins at random places, as a client zooming
// wildly asks for them.
std::string random_wide_zooms() {
  static std::mt19937 random(7);
  std::string zooms;
  for (int i = 0; i < 8; ++i) {
    const int first = 1 + int(random() % (9216 - 2047));
    if (!zooms.empty()) zooms += ',';
    zooms += std::to_string(i % 4);
    zooms += ':' + std::to_string(first) + ':' + std::to_string(first + 2047) + ":1:512:0";
  }
  return zooms;
}

// Runs kivo on `stream` with refresh interval `refresh` and the display on,
// while a page fetches every update and `load` (if any) runs beside it with
// the display's port; false when it fails.
bool ingest(const std::string& stream, int refresh, const std::function<void(int)>& load = {}) {
  kivo::bench::Child kivo({kivo::bench::program_beside_bench("kivo"), "-q", "--port", "0", "-e",
                           "set_refresh(" + std::to_string(refresh) + ")", stream});
  const std::string line = kivo.error_line_with("display at http://127.0.0.1:");
  const auto colon = line.rfind(':');
  if (colon == std::string::npos) {
    std::fprintf(stderr, "kivo-bench: kivo did not start its display\n");
    return false;
  }
  const int port = std::stoi(line.substr(colon + 1));
  std::thread page([port] { watch(port); });
  std::thread beside([&load, port] {
    if (load) load(port);
  });
  const bool ok = kivo.wait() == 0;
  page.join();
  beside.join();
  return ok;
}

kivo::bench::Result ingestion_with_page() {
  const std::string stream = kivo::bench::write_temporary_stream(noisy_run());
  if (stream.empty()) return {};
  bool ok = true;
  double refreshing = 0, plain = 0;
  kivo::bench::alternate_best_seconds(
      kIngestionRuns, [&] { ok = ingest(stream, kRefresh) && ok; }, [&] { ok = ingest(stream, -1) && ok; },
      refreshing, plain);
  std::filesystem::remove(stream);
  if (!ok) return {};
  const double events = kNoisyEvents + 1.0;
  return kivo::bench::rate_result(events / refreshing, "the same file at set_refresh(-1)", events / plain,
                                  "events/s", 0.4);
}

// Ingestion with a page watching and `load` beside it, against the same
// with `baseline` beside it instead.
kivo::bench::Result ingestion_under(const std::function<void(int)>& load, const std::function<void(int)>& baseline,
                                    const char* limit_what) {
  const std::string stream = kivo::bench::write_temporary_stream(noisy_run());
  if (stream.empty()) return {};
  bool ok = true;
  double loaded = 0, page_only = 0;
  kivo::bench::alternate_best_seconds(
      kIngestionRuns, [&] { ok = ingest(stream, kRefresh, load) && ok; },
      [&] { ok = ingest(stream, kRefresh, baseline) && ok; }, loaded, page_only);
  std::filesystem::remove(stream);
  if (!ok) return {};
  const double events = kNoisyEvents + 1.0;
  return kivo::bench::rate_result(events / loaded, limit_what, events / page_only, "events/s", 0.9);
}

// Five hundred clients of one address asking for /status.json as fast as
// they are answered, until kivo goes away.
kivo::bench::Result ingestion_with_crowd() {
  return ingestion_under(
      [](int port) {
        HttpCrowd crowd(port, 500, "/status.json", "127.0.0.2");
        while (http_request(port, "GET", "/status.json").status == 200) std::this_thread::sleep_for(kPagePoll);
      },
      {}, "the same with the page alone");
}

// A second page asking for eight random regions of 2048 x 512 bins at every
// poll.
kivo::bench::Result ingestion_with_zooms() {
  return ingestion_under([](int port) { watch(port, random_wide_zooms); }, [](int port) { watch(port); },
                         "the same with a second page not zooming");
}

// The light canvas as the page and snapshots draw it, serialised.
std::string light_canvas(Display& display) {
  silently([] { OM(); });
  return rootcompat::ToJSON(display.live.frame(*com, {}, kivo_run, 0)->canvas->GetCanvas());
}

// A PNG snapshot of the noisy run's canvas, against the same with empty maps
// (JSROOT and the small objects: the part that does not depend on the maps),
// drawn by the renderer kept running between snapshots; the best of each
// leaves out the first, which starts it.
kivo::bench::Result snapshot_node_time() {
  process_noisy_run();
  Display display;
  const std::string noisy = light_canvas(display);
  reset_histos();
  const std::string empty = light_canvas(display);
  const std::string image =
      std::filesystem::temp_directory_path() / ("kivo-bench-" + std::to_string(getpid()) + ".png");
  std::string error;
  const auto render = [&](const std::string& canvas) {
    if (!render_snapshot(canvas, image, error)) std::fprintf(stderr, "kivo-bench: snapshot: %s\n", error.c_str());
  };
  double noisy_seconds = 0, empty_seconds = 0;
  kivo::bench::alternate_best_seconds(
      kProgramRuns, [&] { render(noisy); }, [&] { render(empty); }, noisy_seconds, empty_seconds);
  std::filesystem::remove(image);
  if (!error.empty()) return {};
  return kivo::bench::time_result(noisy_seconds, "the same snapshot with empty maps", empty_seconds, 1.5);
}

}  // namespace

KIVO_BENCH("OM with display", "one OM() with the display on, maps of a long noisy run", om_with_display);
KIVO_BENCH("live copy", "the event thread's share of a publish: the canvas copied with overview maps", live_copy);
KIVO_BENCH("live serialise", "the display thread's share: a copy serialised and a full update compressed",
           live_serialise);
KIVO_BENCH("live serialise, recent watched",
           "the same with a page showing the four recent maps, a new window at each publish", live_serialise_recent);
KIVO_BENCH("bytes per update", "the largest full update a page receives, any occupancy", bytes_per_update);
KIVO_BENCH("ingestion with page", "kivo at set_refresh(1000), display on, a page fetching every update",
           ingestion_with_page);
KIVO_BENCH("ingestion with crowd", "the same, 500 clients of another address polling /status.json at once",
           ingestion_with_crowd);
KIVO_BENCH("ingestion with zooms", "the same, another page asking for 8 random 2048x512 regions at every poll",
           ingestion_with_zooms);
KIVO_BENCH("snapshot", "a PNG snapshot of a long noisy run, rendered by Node", snapshot_node_time);
