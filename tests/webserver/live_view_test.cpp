// The live view behind the page: versioned pieces and what an update sends,
// the display thread that serialises frames, the event rate and state, the
// zoom requests, compression, and /update.json itself.
#include <gtest/gtest.h>
#include <poll.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Activity.h"
#include "DetachedHistograms.h"
#include "Gzip.h"
#include "TH2F.h"
#include "TCanvas.h"
#include "TLatex.h"
#include "TNamed.h"
#include "TPad.h"
#include "ViewPublisher.h"
#include "ViewStore.h"
#include "WebDisplay.h"
#include "ZoomRequests.h"
#include "http_client.h"
#include "http_crowd.h"
#include "web_tree.h"

namespace {

using namespace std::chrono_literals;
using kivo::web::Activity;
using kivo::web::LiveFrame;
using kivo::web::MapRegion;
using kivo::web::ViewPublisher;
using kivo::web::ViewRequest;
using kivo::web::ViewStore;
using kivo::web::ViewTexts;
using kivo::web::WebDisplay;
using kivo::web::ZoomRequests;
using kivo::web::accepts_gzip;
using kivo::web::gzip;
using kivo::web::json_string_contents;

ViewTexts texts(std::string layout, std::vector<std::pair<std::string, std::string>> objects, int events = 0) {
  ViewTexts t;
  t.has_canvas = true;
  t.events = events;
  t.layout = std::move(layout);
  t.objects = std::move(objects);
  return t;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(ViewStoreTest, AnUpdateSendsWhatChangedSinceTheVersionHeld) {
  ViewStore store("tag");
  store.publish(texts("L1", {{"a", "A1"}, {"b", "B1"}}));
  const std::string first = store.update({"tag", 0, {}}, "null");
  EXPECT_EQ(first.rfind(R"({"instance":"tag","version":1,"run":0,"events":0,"published":0,"activity":null,)", 0), 0u)
      << first;
  EXPECT_TRUE(contains(first, R"("reset":true,"layout":L1,"objects":{"a":A1,"b":B1},"regions":[]})")) << first;

  store.publish(texts("L1", {{"a", "A1"}, {"b", "B2"}}));
  const std::string second = store.update({"tag", 1, {}}, "{}");
  EXPECT_FALSE(contains(second, "reset"));
  EXPECT_FALSE(contains(second, "layout")) << "the layout did not change";
  EXPECT_TRUE(contains(second, R"("objects":{"b":B2})")) << second;
  EXPECT_TRUE(contains(store.update({"tag", 2, {}}, "{}"), R"("objects":{})"));
  for (const ViewRequest& stale : {ViewRequest{"other", 2, {}}, ViewRequest{"tag", 9, {}}}) {
    const std::string again = store.update(stale, "{}");
    EXPECT_TRUE(contains(again, R"("reset":true,"layout":L1,"objects":{"a":A1,"b":B2})")) << again;
  }
  store.publish(texts("L3", {{"c", "C3"}}));
  EXPECT_TRUE(contains(store.update({"tag", 2, {}}, "{}"), R"("layout":L3,"objects":{"c":C3})"));
}

TEST(ViewStoreTest, RegionsAreSentWhenNewerThanTheOneHeld) {
  ViewStore store("tag");
  const MapRegion region{1, 10, 59, 5, 24};
  ViewTexts first = texts("L", {});
  first.regions.push_back({region, "R1"});
  store.publish(std::move(first));
  EXPECT_TRUE(store.has_region(region));
  const std::string asked = store.update({"tag", 1, {{region, 0}}}, "{}");
  EXPECT_TRUE(contains(asked, R"("regions":[{"stave":1,"x":[10,59],"y":[5,24],"version":1,"map":R1}])")) << asked;
  EXPECT_TRUE(contains(store.update({"tag", 1, {{region, 1}}}, "{}"), R"("regions":[])"));
  EXPECT_TRUE(contains(store.update({"tag", 1, {}}, "{}"), R"("regions":[])")) << "only regions asked for";

  ViewTexts copied_again;  // between two canvas publishes: same canvas version
  copied_again.regions.push_back({region, "R2"});
  store.publish(std::move(copied_again));
  EXPECT_EQ(store.status().version, 1);
  EXPECT_TRUE(contains(store.update({"tag", 1, {{region, 1}}}, "{}"), R"("version":2,"map":R2)"));

  ViewTexts not_copied = texts("L", {});  // still asked for, its turn to be copied not come
  not_copied.kept_regions.push_back(region);
  store.publish(std::move(not_copied));
  EXPECT_TRUE(contains(store.update({"tag", 1, {{region, 1}}}, "{}"), R"("version":2,"map":R2)"));

  store.publish(texts("L", {}));  // a canvas publish names every region still asked for
  EXPECT_FALSE(store.has_region(region));
}

// A window's maps, each a 2 x 1 histogram holding `content` hits in its first block.
std::shared_ptr<const kivo::web::RecentMaps> recent_maps(long serial, float content) {
  kivo::web::DetachedHistograms detached;
  auto recent = std::make_shared<kivo::web::RecentMaps>();
  recent->serial = serial;
  recent->first_event = 1000 * serial - 999;
  recent->last_event = 1000 * serial;
  recent->events = 1000;
  for (int stave : {0, 2}) {
    auto map = std::make_shared<TH2F>("h2d_chip_norm", "", 2, 0, 2, 1, 0, 1);
    map->SetBinContent(1, 1, content);
    recent->maps.emplace_back(stave, std::move(map));
  }
  return recent;
}

ViewTexts with_recent(std::shared_ptr<const kivo::web::RecentMaps> recent) {
  ViewTexts t = texts("L", {{"a", "A"}});
  t.recent = std::move(recent);
  return t;
}

// Recent maps travel only to a page that asks for them, once per window it
// does not hold; the window itself is told to every page.
TEST(ViewStoreTest, RecentMapsAreSentWhenAskedAndNotHeld) {
  ViewStore store("tag");
  store.publish(with_recent(recent_maps(0, 0)));
  const std::string none = store.update({"tag", 0, {}, {{0, 0}}}, "{}");
  EXPECT_TRUE(contains(none, R"("recent_window":{"events":1000,"version":0},"recent":[]})")) << none;

  const auto window = recent_maps(3, 7);
  store.publish(with_recent(window));
  const std::string unasked = store.update({"tag", 1, {}}, "{}");
  EXPECT_TRUE(contains(unasked, R"("recent_window":{"events":1000,"version":3,"first":2001,"last":3000},"recent":[]})"))
      << unasked;
  const std::string asked = store.update({"tag", 1, {}, {{2, 0}, {1, 0}}}, "{}");
  EXPECT_TRUE(contains(asked, R"("recent":[{"stave":2,"version":3,"map":{"_typename":"TH2F")")) << asked.substr(0, 400);
  EXPECT_TRUE(contains(asked, R"("fArray":{"$arr":"Uint8","len":12,"p":5,"v":[7]})")) << "the hits as whole numbers";
  EXPECT_FALSE(contains(asked, R"("stave":1,)")) << "stave 1 has no map";
  EXPECT_TRUE(contains(store.update({"tag", 1, {}, {{2, 3}}}, "{}"), R"("recent":[]})")) << "window held";
  EXPECT_TRUE(contains(store.update({"other", 1, {}, {{2, 3}}}, "{}"), R"("recent":[{"stave":2,)"))
      << "another instance's window";

  store.publish(with_recent(window));  // the same window at the next publish
  EXPECT_TRUE(contains(store.update({"tag", 2, {}, {{2, 3}}}, "{}"), R"("recent":[]})"));
  store.publish(with_recent(recent_maps(4, 9)));
  const std::string next = store.update({"tag", 3, {}, {{2, 3}, {0, 3}}}, "{}");
  EXPECT_TRUE(contains(next, R"("recent":[{"stave":2,"version":4,)") && contains(next, R"({"stave":0,"version":4,)"))
      << next.substr(0, 400);
}

TEST(ViewStoreTest, TheWholeCanvasHasEveryObjectInItsPlace) {
  ViewStore store("tag");
  EXPECT_EQ(store.canvas().text, nullptr);
  store.publish(texts(R"({"arr":[{"_typename":"KivoRef","id":"com/p/0"},{"_typename":"KivoRef","id":"com/1"}]})",
                      {{"com/p/0", "[1]"}, {"com/1", R"({"t":"x"})"}}, 42));
  const ViewStore::Canvas canvas = store.canvas();
  ASSERT_NE(canvas.text, nullptr);
  EXPECT_EQ(*canvas.text, R"({"arr":[[1],{"t":"x"}]})");
  EXPECT_EQ(canvas.status.version, 1);
  EXPECT_EQ(canvas.status.events, 42);
}

TEST(ViewStoreTest, IdsAreEscapedForJsonStrings) {
  EXPECT_EQ(json_string_contents(R"(p"2\d)"), R"(p\u00222\u005cd)");
  EXPECT_EQ(json_string_contents("a\nb"), "a\\u000ab");
}

// A small canvas whose label says `text`, copied as the event thread copies.
struct Canvas {
  TCanvas canvas{"publisher_canvas", "", 400, 300};
  TLatex label{0.5, 0.5, ""};
  Canvas() { label.Draw(""); }
  std::shared_ptr<LiveFrame> frame(const std::string& text) {
    label.SetText(0.5, 0.5, text.c_str());
    auto frame = std::make_shared<LiveFrame>();
    frame->canvas = std::make_unique<rootcompat::CanvasCopy>(
        canvas, [](const TObject& primitive, const TPad&) { return std::unique_ptr<TObject>(primitive.Clone()); });
    return frame;
  }
};

TEST(ViewPublisherTest, OnlyTheNewestFrameIsWrittenAndOnlyOnceAsked) {
  Canvas canvas;
  ViewStore store("tag");
  ViewPublisher publisher(store);
  for (const char* text : {"one", "two", "three"}) publisher.publish(canvas.frame(text));
  EXPECT_EQ(store.status().version, 0) << "nobody asked";
  publisher.demand(10s);
  EXPECT_EQ(store.status().version, 1) << "superseded frames are never written";
  EXPECT_TRUE(contains(*store.canvas().text, "three"));
  publisher.demand(10s);
  EXPECT_EQ(store.status().version, 1) << "nothing new";
  publisher.publish(canvas.frame("four"));
  publisher.demand(10s);
  EXPECT_EQ(store.status().version, 2);
  EXPECT_TRUE(contains(*store.canvas().text, "four"));
}

TEST(ViewPublisherTest, ExtraObjectsAndRegionsAreWritten) {
  Canvas canvas;
  ViewStore store("tag");
  ViewPublisher publisher(store);
  auto frame = canvas.frame("run");
  frame->objects.emplace_back("quality/verdict", std::make_unique<TNamed>("verdict", "all good"));
  publisher.publish(frame);
  publisher.demand(10s);
  EXPECT_TRUE(contains(store.update({"tag", 0, {}}, "{}"), R"("quality/verdict":{"_typename":"TNamed")"));

  const MapRegion region{0, 1, 2, 1, 2};
  auto regions = std::make_shared<LiveFrame>();
  regions->regions.push_back({region, std::make_unique<TH2F>()});
  publisher.publish(regions);  // written without being asked: a page waits for it
  EXPECT_TRUE(publisher.wait_for([&] { return store.has_region(region); }, 10s));
}

// Records the thread it is destroyed on.
class Witness : public TNamed {
 public:
  explicit Witness(std::atomic<std::thread::id>& freed_on) : freed_on_(freed_on) {}
  ~Witness() override { freed_on_ = std::this_thread::get_id(); }

 private:
  std::atomic<std::thread::id>& freed_on_;
};

TEST(ViewPublisherTest, FramesAreFreedOnThePublishingThread) {
  Canvas canvas;
  ViewStore store("tag");
  ViewPublisher publisher(store);
  std::atomic<std::thread::id> written_freed_on{}, dropped_freed_on{};
  std::thread::id event_thread;
  std::thread([&] {
    event_thread = std::this_thread::get_id();
    auto written = canvas.frame("written");
    written->objects.emplace_back("witness", std::make_unique<Witness>(written_freed_on));
    publisher.publish(std::move(written));
    publisher.demand(10s);
    auto dropped = canvas.frame("dropped");
    dropped->objects.emplace_back("witness", std::make_unique<Witness>(dropped_freed_on));
    publisher.publish(std::move(dropped));
    publisher.publish(canvas.frame("last"));
  }).join();
  EXPECT_EQ(written_freed_on.load(), event_thread);
  EXPECT_EQ(dropped_freed_on.load(), event_thread);
}

TEST(ActivityTest, StatesFollowTheSourcesAndTheEvents) {
  Activity activity;
  EXPECT_STREQ(Activity::state(activity.read()), "idle");
  activity.set_sources(Activity::Sources::open);
  for (int i = 0; i < 1000; ++i) activity.record_event();
  const Activity::Reading reading = activity.read();
  EXPECT_STREQ(Activity::state(reading), "live");
  EXPECT_EQ(reading.events, 1000u);
  EXPECT_GT(reading.rate, 0);
  const auto now_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::system_clock::now().time_since_epoch()).count();
  EXPECT_NEAR(double(reading.last_event_ms), double(now_ms), 5000);
  Activity::Reading idle = reading;
  idle.idle_seconds = Activity::kWaitingAfter + 1;
  EXPECT_STREQ(Activity::state(idle), "waiting");
  activity.set_sources(Activity::Sources::finished);
  const std::string json = Activity::json(activity.read());
  EXPECT_EQ(json.rfind(R"({"state":"finished","events":1000,"rate":)", 0), 0u) << json;
  EXPECT_TRUE(contains(json, R"("last_event":)") && contains(json, R"("idle":)")) << json;
}

// A clock the Activity tests move by hand.
std::int64_t hand_clock_ns = 0;
std::int64_t hand_clock() { return hand_clock_ns; }
std::int64_t hand_wall_clock() { return 1700000000000000000 + hand_clock_ns; }

// `per_second` events a second for `seconds`, in steps of 10 ms.
void feed(Activity& activity, double seconds, int per_second) {
  for (int step = 0; step < int(seconds * 100); ++step) {
    hand_clock_ns += 10000000;
    for (int i = 0; i < per_second / 100; ++i) activity.record_event();
  }
}

TEST(ActivityTest, RateIsThatOfTheEventsSinceAPauseFromItsFirstSecond) {
  hand_clock_ns = 1000000000;
  Activity activity({hand_clock, hand_wall_clock});
  activity.set_sources(Activity::Sources::open);
  feed(activity, 10, 1000);
  EXPECT_NEAR(activity.read().rate, 1000, 50);
  hand_clock_ns += 2000000000;
  EXPECT_STREQ(Activity::state(activity.read()), "live") << "a short gap";
  EXPECT_GT(activity.read().rate, 0);
  hand_clock_ns += 20000000000;
  const Activity::Reading paused = activity.read();
  EXPECT_STREQ(Activity::state(paused), "waiting");
  EXPECT_EQ(paused.rate, 0) << "no rate while waiting";
  feed(activity, 1, 3000);
  EXPECT_NEAR(activity.read().rate, 3000, 300) << "one second after the pause";
  feed(activity, 1, 3000);
  EXPECT_NEAR(activity.read().rate, 3000, 300) << "two seconds after the pause";
}

TEST(ActivityTest, TellsTheEndOfARunAndTheMonitorsCountUntilTheNextEvent) {
  hand_clock_ns = 1000000000;
  Activity activity({hand_clock, hand_wall_clock});
  activity.set_sources(Activity::Sources::open);
  activity.record_event();
  activity.record_run_end(7);
  activity.set_monitor_events(1234);
  const Activity::Reading ended = activity.read();
  EXPECT_TRUE(ended.run_ended);
  EXPECT_EQ(ended.ended_run, 7);
  const std::string json = Activity::json(ended);
  EXPECT_TRUE(contains(json, R"("monitor_events":1234,"ended":{"run":7,"at":1700000001000})")) << json;
  activity.record_event();
  EXPECT_FALSE(activity.read().run_ended);
  EXPECT_TRUE(contains(Activity::json(activity.read()), R"("ended":null})"));
}

TEST(ZoomRequestsTest, NewRegionsWakeTheEventThreadOnce) {
  ZoomRequests zooms;
  const MapRegion a{0, 1, 50, 1, 20}, b{1, 1, 50, 1, 20};
  pollfd wake{zooms.wake_fd(), POLLIN, 0};
  EXPECT_FALSE(zooms.new_regions());
  EXPECT_EQ(poll(&wake, 1, 0), 0);
  EXPECT_TRUE(zooms.ask(a, "page"));
  EXPECT_TRUE(zooms.new_regions());
  EXPECT_EQ(poll(&wake, 1, 0), 1);
  EXPECT_EQ(zooms.take_new(), std::vector<MapRegion>{a});
  EXPECT_FALSE(zooms.new_regions());
  EXPECT_EQ(poll(&wake, 1, 0), 0);
  EXPECT_TRUE(zooms.ask(a, "page"));
  EXPECT_FALSE(zooms.new_regions()) << "asked again: already copied";
  EXPECT_TRUE(zooms.ask(b, "other page"));
  EXPECT_EQ(zooms.take_new(), std::vector<MapRegion>{b});
  const auto soon = ZoomRequests::Clock::now() + ZoomRequests::kCopyAgainAfter;
  EXPECT_EQ(zooms.take_all(soon).copy, (std::vector<MapRegion>{a, b}));
  for (int i = 0; i < int(ZoomRequests::kMaxRegions); ++i) EXPECT_TRUE(zooms.ask(MapRegion{2, 1, 1, 1, 1 + i}, "third page", soon));
  const auto kept = zooms.take_all(soon).copy;
  EXPECT_EQ(kept.size(), ZoomRequests::kMaxRegions);
  EXPECT_EQ(std::count(kept.begin(), kept.end(), a), 0) << "the least recently asked goes";
}

// One client asking for region after region adds only a few a second; the
// event thread copies a bounded number of bins a second, copies a region
// again at most twice a second, and the regions whose turn has not come keep
// their last copy.
TEST(ZoomRequestsTest, WhatOneClientCanMakeTheEventThreadCopyIsBounded) {
  ZoomRequests zooms;
  const auto t0 = ZoomRequests::Clock::now();
  const auto large = [](int i) { return MapRegion{i % 4, 1 + 2048 * (i / 4 % 4), 2048 * (i / 4 % 4 + 1), 1, 512}; };
  int taken = 0;
  for (int i = 0; i < 16; ++i) taken += zooms.ask(large(i), "127.0.0.2", t0) ? 1 : 0;
  EXPECT_EQ(taken, int(ZoomRequests::kNewRegionsBurst)) << "a burst, then no more";
  EXPECT_TRUE(zooms.ask(MapRegion{0, 1, 10, 1, 10}, "127.0.0.1", t0)) << "another client is not held up";
  EXPECT_TRUE(zooms.ask(large(7), "127.0.0.2", t0)) << "a region already asked for costs nothing";
  EXPECT_TRUE(zooms.ask(large(20), "127.0.0.2", t0 + std::chrono::milliseconds(250))) << "a new one a quarter second later";

  ZoomRequests::Turn first = zooms.take_all(t0 + std::chrono::milliseconds(250));
  long bins = 0;
  for (const MapRegion& region : first.copy) bins += region.bins();
  EXPECT_LE(bins, ZoomRequests::kBinsBurst);
  EXPECT_FALSE(first.copy.empty());
  EXPECT_FALSE(zooms.new_regions(t0 + std::chrono::milliseconds(250))) << "the others wait for the budget";
  const int wait = zooms.wait_ms(t0 + std::chrono::milliseconds(250));
  EXPECT_GT(wait, 0);
  EXPECT_TRUE(zooms.new_regions(t0 + std::chrono::milliseconds(250 + wait))) << "and their turn comes";
  pollfd wake{zooms.wake_fd(), POLLIN, 0};
  EXPECT_EQ(poll(&wake, 1, 0), 0) << "an idle loop waits for the budget, not for the descriptor";
  const ZoomRequests::Turn next = zooms.take_all(t0 + std::chrono::milliseconds(300));
  EXPECT_EQ(next.keep, first.copy) << "copied a moment ago: the last copy stays";
  long later = 0;
  for (const MapRegion& region : next.copy) later += region.bins();
  EXPECT_LE(later, ZoomRequests::kBinsPerSecond * 0.05 + 1) << "bins a second, not a burst per update";
}

TEST(GzipTest, CompressesAndReadsAcceptEncoding) {
  std::string text;
  for (int i = 0; i < 5000; ++i) text += "{\"v\":" + std::to_string(i % 17) + "},";
  const std::string packed = gzip(text);
  EXPECT_LT(packed.size(), text.size() / 10);
  EXPECT_EQ(gunzip(packed), text);
  EXPECT_EQ(gunzip(gzip("")), "");
  EXPECT_TRUE(accepts_gzip("gzip, deflate, br"));
  EXPECT_TRUE(accepts_gzip("br;q=1.0, GZIP;q=0.5"));
  EXPECT_FALSE(accepts_gzip("gzip;q=0"));
  EXPECT_FALSE(accepts_gzip("deflate, x-gzip2"));
  EXPECT_FALSE(accepts_gzip(nullptr));
}

class UpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(display.start(error)) << error;
    port = port_of(display.address());
    activity->set_sources(Activity::Sources::open);
    display.attach(activity);
  }
  HttpResponse get(const std::string& target, const std::string& headers = {}) {
    return http_request(port, "GET", target, headers);
  }

  TestWebTree tree;
  WebDisplay display{"127.0.0.1", 0, tree.root().string()};
  std::shared_ptr<Activity> activity = std::make_shared<Activity>();
  Canvas canvas;
  int port = 0;
};

TEST_F(UpdateTest, SendsChangesSinceTheVersionHeldCompressedWhenAccepted) {
  std::string label(3000, 'x');
  display.publish(canvas.frame(label));
  const auto first = get("/update.json");
  EXPECT_EQ(first.status, 200);
  EXPECT_EQ(first.header("content-encoding"), "");
  EXPECT_TRUE(contains(first.body, R"("version":1)") && contains(first.body, R"("activity":{"state":"live")"))
      << first.body.substr(0, 300);
  EXPECT_TRUE(contains(first.body, R"("layout":{"_typename":"TCanvas")"));
  EXPECT_TRUE(contains(first.body, R"({"_typename":"KivoRef","id":"publisher_canvas/0"})"));
  EXPECT_TRUE(contains(first.body, label));

  const auto zipped = get("/update.json", "Accept-Encoding: gzip, deflate\r\n");
  EXPECT_EQ(zipped.header("content-encoding"), "gzip");
  EXPECT_LT(zipped.body.size(), first.body.size() / 4);
  EXPECT_EQ(gunzip(zipped.body).size(), first.body.size());

  const std::string instance = first.body.substr(13, first.body.find('"', 13) - 13);
  const auto unchanged = get("/update.json?instance=" + instance + "&since=1");
  EXPECT_FALSE(contains(unchanged.body, label));
  EXPECT_TRUE(contains(unchanged.body, R"("objects":{},"regions":[]})")) << unchanged.body;
  display.publish(canvas.frame("short"));
  const auto next = get("/update.json?instance=" + instance + "&since=1");
  EXPECT_TRUE(contains(next.body, R"("version":2)"));
  EXPECT_TRUE(contains(next.body, "short"));
  EXPECT_FALSE(contains(next.body, R"("layout")"));
}

TEST_F(UpdateTest, BadQueriesAreRefusedWithTheReason) {
  display.publish(canvas.frame("x"));
  const auto since = get("/update.json?since=abc");
  EXPECT_EQ(since.status, 400);
  EXPECT_TRUE(contains(since.body, "since is not a version number: abc")) << since.body;
  // Bins 0 and 9217 x 513 are the underflow and overflow bins, outside the map.
  for (const char* zoom : {"0:1:2:3", "4:1:50:1:20:0", "0:50:1:1:20:0", "0:1:9217:1:20:0", "0:1:50:1:20:x",
                           "0:0:50:1:20:0", "1:10:50:0:20:0", "3:10:50:1:513:0", "-1:1:50:1:20:0"}) {
    const auto bad = get(std::string("/update.json?zoom=") + zoom);
    EXPECT_EQ(bad.status, 400) << zoom;
    EXPECT_TRUE(contains(bad.body, zoom)) << bad.body;
  }
  for (const char* recent : {"4:0", "-1:0", "1", "1:x", "1:-2", "a:1"}) {
    const auto bad = get(std::string("/update.json?recent=") + recent);
    EXPECT_EQ(bad.status, 400) << recent;
    EXPECT_TRUE(contains(bad.body, "not a recent map STAVE:HELD")) << bad.body;
  }
  EXPECT_EQ(get("/update.json?recent=0:0,3:12").status, 200);
}

// Five hundred clients of one address polling the status as fast as they are
// answered while the canvas is updated a hundred times a second: they do not
// make the display serialise every update (the status asks for the newest
// view once a second), those beyond the address's share are refused, and
// another address is answered, every time, without waiting for them. The
// probes' waits are judged by their median and loosely: a crowd that held
// the address up would slow every probe, while one probe slowed by a busy
// machine (the tests beside this one) says nothing.
TEST_F(UpdateTest, ACrowdPollingTheStatusCostsLittleAndHoldsNobodyUp) {
  HttpCrowd crowd(port, 500, "/status.json", "127.0.0.2");
  int published = 0;
  std::vector<double> waits;
  auto next_probe = std::chrono::steady_clock::now();
  for (const auto end = next_probe + std::chrono::seconds(3); std::chrono::steady_clock::now() < end;) {
    display.publish(canvas.frame(std::to_string(++published)));
    if (std::chrono::steady_clock::now() >= next_probe) {
      const auto asked = std::chrono::steady_clock::now();
      EXPECT_EQ(get("/status.json").status, 200);
      waits.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - asked).count());
      next_probe = std::chrono::steady_clock::now() + std::chrono::milliseconds(250);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const HttpCrowd::Tally tally = crowd.stop();
  const std::string last = get("/update.json").body;
  const long serialised = std::stol(last.substr(last.find(R"("version":)") + 10));
  EXPECT_LE(serialised, 8) << published << " updates published while the crowd polled";
  EXPECT_GT(tally.answered, 0);
  EXPECT_GT(tally.refused, 0) << "the address's share is bounded";
  ASSERT_FALSE(waits.empty());
  std::nth_element(waits.begin(), waits.begin() + waits.size() / 2, waits.end());
  EXPECT_LT(waits[waits.size() / 2], 2.0) << "another address waits for nobody";
}

TEST_F(UpdateTest, AZoomIsRegisteredForTheEventThread) {
  display.publish(canvas.frame("x"));
  const auto response = get("/update.json?zoom=2:100:149:300:319:0,0:1:9216:1:512:0");
  EXPECT_EQ(response.status, 200);
  EXPECT_TRUE(contains(response.body, R"("regions":[])")) << "nobody copied it within the wait";
  EXPECT_EQ(display.zooms().take_new(), (std::vector<MapRegion>{{2, 100, 149, 300, 319}}))
      << "the whole map is too large to copy and is not asked for";
}

}  // namespace
