// ROOT's web protocol without a server: which paths it answers and refuses,
// the hierarchy it lists, and the shelf that hands server threads copies of
// the monitor's objects, made on the event thread within its budget.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <thread>

#include "ObjectShelf.h"
#include "RootProtocol.h"
#include "TH1F.h"
#include "TNamed.h"

namespace kivo::web {
namespace {

using Clock = ObjectShelf::Clock;
using namespace std::chrono_literals;

TEST(RootProtocolPaths, AnswersTheHierarchyAndObjectsAndRefusesTheRest) {
  std::optional<ProtocolRequest> request;
  std::string problem;
  ASSERT_TRUE(parse_protocol_path("/h.json", request, problem));
  ASSERT_TRUE(request);
  EXPECT_EQ(request->kind, ProtocolRequest::Kind::hierarchy);
  EXPECT_EQ(request->item, "");
  ASSERT_TRUE(parse_protocol_path("/Runs/run7.root/h.json", request, problem));
  EXPECT_EQ(request->item, "Runs/run7.root");
  ASSERT_TRUE(parse_protocol_path("/h2d_chip_2/root.json.gz", request, problem));
  EXPECT_EQ(request->kind, ProtocolRequest::Kind::object);
  EXPECT_EQ(request->item, "h2d_chip_2");
  EXPECT_TRUE(request->gzip);
  ASSERT_TRUE(parse_protocol_path("/Quality/quality_overall/root.json", request, problem));
  EXPECT_EQ(request->item, "Quality/quality_overall");
  EXPECT_FALSE(request->gzip);

  for (const char* refused : {"/exe.json", "/h2d_chip_2/exe.json", "/cmd.json", "/h2d_chip_2/cmd.json", "/h.xml",
                              "/multi.json", "/h2d_chip_2/root.bin", "/item.json"}) {
    EXPECT_TRUE(parse_protocol_path(refused, request, problem)) << refused;
    EXPECT_FALSE(request) << refused;
    EXPECT_NE(problem.find("read-only"), std::string::npos) << refused;
  }
  for (const char* bad : {"/root.json", "/a//root.json", "/../root.json", "/a/./h.json", "/a\\b/root.json"}) {
    EXPECT_TRUE(parse_protocol_path(bad, request, problem)) << bad;
    EXPECT_FALSE(request) << bad;
  }
  for (const char* other : {"/", "/index.html", "/quality.json", "/runs.json", "/archive/run7.root", "/xh.json"})
    EXPECT_FALSE(parse_protocol_path(other, request, problem)) << other;
}

TEST(RootProtocolPaths, CompactIsOneOfTBufferJSONsLevels) {
  for (const char* level : {"", "0", "3", "23", "33", "103", "123"}) EXPECT_TRUE(valid_compact(level)) << level;
  for (const char* level : {"4", "43", "200", "-1", "x", "3x", "99999999999"}) EXPECT_FALSE(valid_compact(level)) << level;
}

TEST(RootProtocolHierarchy, FoldersFromPathsAndTheArchivedRuns) {
  const std::vector<ShelfEntry> entries = {{"h2d_chip_0", "TH2F", "", 100},
                                           {"Quality/quality_overall", "TNamed", "Good", 1},
                                           {"Canvases/com", "TCanvas", "KIVO online monitoring", 1},
                                           {"Quality/quality_trend", "TGraphAsymmErrors", "", 1}};
  ArchivedRun whole, cut, broken;
  whole.file = "run3.root";
  whole.run = 3;
  whole.overall = "Good";
  cut.file = "run4.root";
  cut.run = 4;
  cut.overall = "Bad";
  cut.cut_short = true;
  broken.file = "run5.root";
  broken.run = 5;
  broken.problem = "not a ROOT file";
  const auto top = nlohmann::json::parse(hierarchy_json(entries, {whole, cut, broken}, 1000));
  EXPECT_EQ(top["_kind"], "ROOT.Session");
  EXPECT_EQ(top["_monitoring"], "1000");
  const auto& children = top["_childs"];
  ASSERT_EQ(children.size(), 4u);
  EXPECT_EQ(children[0]["_name"], "h2d_chip_0");
  EXPECT_EQ(children[0]["_kind"], "ROOT.TH2F");
  EXPECT_EQ(children[1]["_name"], "Quality");
  ASSERT_EQ(children[1]["_childs"].size(), 2u) << "one folder for both quality objects";
  EXPECT_EQ(children[1]["_childs"][0]["_title"], "Good");
  EXPECT_EQ(children[2]["_childs"][0]["_kind"], "ROOT.TCanvas");
  const auto& runs = children[3];
  EXPECT_EQ(runs["_name"], "Runs");
  EXPECT_EQ(runs["_childs"][0]["_title"], "run 3, Good");
  EXPECT_EQ(runs["_childs"][0]["_more"], true);
  EXPECT_EQ(runs["_childs"][1]["_title"], "run 4, Bad, cut short");
  EXPECT_EQ(runs["_childs"][2]["_title"], "run 5, cannot be read: not a ROOT file");
  EXPECT_FALSE(runs["_childs"][2].contains("_more"));

  EXPECT_FALSE(nlohmann::json::parse(hierarchy_json({}, {}, 1000))["_childs"].size());
}

TEST(RootProtocolHierarchy, AFilesKeysWithoutItsClassDescriptions) {
  rootcompat::FileKeys keys;
  keys.title = "run 7";
  keys.keys.resize(2);
  keys.keys[0].className = "TH2F";
  keys.keys[0].name = "h2d_chip_0";
  keys.keys[1].className = "TList";
  keys.keys[1].name = "StreamerInfo";
  const auto file = nlohmann::json::parse(file_hierarchy_json("run7.root", keys));
  EXPECT_EQ(file["_kind"], "ROOT.TFile");
  ASSERT_EQ(file["_childs"].size(), 1u);
  EXPECT_EQ(file["_childs"][0]["_name"], "h2d_chip_0");
}

// A histogram of `cells` bins whose destruction is counted, and the thread it happened on.
struct Counted : TH1F {
  Counted(const char* name, int bins, int* deaths, std::thread::id* where)
      : TH1F(name, "", bins, 0, 1), deaths(deaths), where(where) {}
  ~Counted() override {
    ++*deaths;
    *where = std::this_thread::get_id();
  }
  int* deaths;
  std::thread::id* where;
};

class Shelf : public ::testing::Test {
 protected:
  void SetUp() override {
    TH1::AddDirectory(kFALSE);
    shelf.list({{"small", "TH1F", "", 12}, {"map_a", "TH2F", "", 4'700'000}, {"map_b", "TH2F", "", 4'700'000}});
  }
  void TearDown() override { TH1::AddDirectory(kTRUE); }

  // Serves one copy of each path the shelf wants at `version` as the event thread does.
  std::vector<std::string> serve(long version, Clock::time_point now) {
    std::vector<std::string> paths = shelf.take(version, now);
    std::vector<std::pair<std::string, std::unique_ptr<TObject>>> copies;
    for (const std::string& path : paths)
      copies.emplace_back(path, std::make_unique<Counted>(path.c_str(), 10, &deaths, &freed_on));
    shelf.put(std::move(copies), version, now);
    return paths;
  }

  // A request on a thread of its own, as a server thread makes it.
  std::thread ask(const std::string& path, std::shared_ptr<const ObjectShelf::Text>& answer) {
    return std::thread([this, path, &answer] { answer = shelf.json(path, 3s); });
  }

  void wait_until_wanted() {
    for (int i = 0; i < 2000 && !shelf.wanted(); ++i) std::this_thread::sleep_for(1ms);
  }

  ObjectShelf shelf;
  int deaths = 0;
  std::thread::id freed_on;
};

TEST_F(Shelf, AnObjectAskedForIsCopiedOnceAndSharedUntilItChanges) {
  EXPECT_FALSE(shelf.json("not_listed", 1s)) << "no wait for an object that is not there";
  EXPECT_FALSE(shelf.wanted());

  std::shared_ptr<const ObjectShelf::Text> first, second;
  std::thread server = ask("small", first);
  wait_until_wanted();
  EXPECT_EQ(serve(7, Clock::now()), std::vector<std::string>{"small"});
  server.join();
  ASSERT_TRUE(first);
  EXPECT_NE(first->json.find("\"fName\":\"small\""), std::string::npos);

  // Nothing changed since (the same version): the copy is fresh, none is made.
  server = ask("small", second);
  wait_until_wanted();
  EXPECT_TRUE(serve(7, Clock::now()).empty());
  server.join();
  EXPECT_EQ(second, first) << "one serialisation shared";
  EXPECT_EQ(deaths, 0);
}

TEST_F(Shelf, AChangedObjectIsCopiedAgainNoSoonerThanASecond) {
  std::shared_ptr<const ObjectShelf::Text> answer;
  std::thread server = ask("small", answer);
  wait_until_wanted();
  const Clock::time_point start = Clock::now();
  serve(1, start);
  server.join();

  std::shared_ptr<const ObjectShelf::Text> later;
  server = ask("small", later);
  wait_until_wanted();
  EXPECT_TRUE(serve(2, Clock::now()).empty()) << "copied less than a second ago";
  EXPECT_GT(shelf.wait_ms(Clock::now()), 0);
  EXPECT_EQ(serve(2, Clock::now() + 1100ms), std::vector<std::string>{"small"});
  server.join();
  ASSERT_TRUE(later);
  EXPECT_NE(later, answer);
  // The replaced copy was freed by the event thread, which put the new one.
  EXPECT_EQ(deaths, 1);
  EXPECT_EQ(freed_on, std::this_thread::get_id());
}

TEST_F(Shelf, TheBudgetPaysForOneFullMapAtOnce) {
  std::shared_ptr<const ObjectShelf::Text> a, b;
  std::thread first = ask("map_a", a);
  std::thread second = ask("map_b", b);
  wait_until_wanted();
  std::this_thread::sleep_for(20ms);  // both asked
  const Clock::time_point now = Clock::now();
  EXPECT_EQ(serve(1, now).size(), 1u);
  EXPECT_TRUE(shelf.wanted(now) == false) << "the other waits for the budget, not for the descriptor";
  EXPECT_GT(shelf.wait_ms(now), 0);
  EXPECT_EQ(serve(1, now + 600ms).size(), 1u) << "paid for half a second later";
  first.join();
  second.join();
  EXPECT_TRUE(a && b);
}

TEST_F(Shelf, ObjectsNobodyAsksForAreForgottenAndFreedOnTheEventThread) {
  std::shared_ptr<const ObjectShelf::Text> answer;
  std::thread server = ask("small", answer);
  wait_until_wanted();
  serve(1, Clock::now());
  server.join();
  serve(1, Clock::now() + ObjectShelf::kForgetAfter + 1s);
  EXPECT_EQ(deaths, 1);
  EXPECT_EQ(freed_on, std::this_thread::get_id());
  EXPECT_NE(answer->json.find("small"), std::string::npos) << "the text handed out stays valid";
}

}  // namespace
}  // namespace kivo::web
