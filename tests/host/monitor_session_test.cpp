// End-to-end runs of kivo with the real monitor library on packed streams:
// exact command output, the refresh cadence as seen in published canvas
// updates, and the saved ROOT JSON.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "kivo_process.h"

namespace {

using kivo::test::Finished;
using kivo::test::run_program;

const std::string kSeparator = "==================================================\n";

std::string repeat(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

// A client that connects to the display on `port`, sends `request` and then
// neither reads nor closes: -1 when it cannot connect.
int stalled_client(int port, const std::string& request) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) {
    if (fd >= 0) close(fd);
    return -1;
  }
  return fd;
}

// The port of the "display at http://127.0.0.1:PORT/" line.
int display_port(const std::string& err) {
  std::smatch match;
  return std::regex_search(err, match, std::regex("display at http://127\\.0\\.0\\.1:([0-9]+)/"))
             ? std::stoi(match[1])
             : 0;
}

// The canvas-update counts reported by each sources() call, in order.
std::vector<int> canvas_updates(const std::string& err) {
  std::vector<int> counts;
  std::regex pattern("([0-9]+) canvas updates published");
  for (auto it = std::sregex_iterator(err.begin(), err.end(), pattern); it != std::sregex_iterator();
       ++it) {
    counts.push_back(std::stoi((*it)[1]));
  }
  return counts;
}

class MonitorSessionTest : public ::testing::Test {
 protected:
  void SetUp() override { directory = kivo::test::temporary_directory(); }
  void TearDown() override { std::filesystem::remove_all(directory); }

  std::string stream(const std::string& text) {
    std::string path = directory + "/run.kevt";
    kivo::test::pack(text, path);
    return path;
  }
  Finished kivo(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {KIVO_BIN, "-b", "-q"});
    return run_program(arguments);
  }

  std::string directory;
};

TEST_F(MonitorSessionTest, PixelWithThreeHitsIsListedAboveTwoAndAHalfOnly) {
  // Readout unit 1, channel 4 is stave 0, chip 3: chip row 200, column 17 is
  // displayed row 311, stave-wide column 3089.
  std::string events = stream("run 1\n" + repeat("event\nhit 1 4 200 17\n", 3));
  Finished run = kivo({"-e", "run();", "-e", "process_histos(2.5)", "-e", "process_histos();",
                       events});
  ASSERT_EQ(run.status, 0) << run.err;
  std::string empty_staves = "\n-- stave 1\nTotal: 0\n\n-- stave 2\nTotal: 0\n\n-- stave 3\nTotal: 0\n";
  EXPECT_EQ(run.out, " processing event 0\n"
                     "\n-- stave 0\n row:311 col:3089\nTotal: 1\n" + empty_staves + "(int) 1\n"
                     "\n-- stave 0\nTotal: 0\n" + empty_staves);
}

TEST_F(MonitorSessionTest, StatusOfARunWithoutDataEvents) {
  Finished run = kivo({"-e", "run();", "-e", "print_status();", stream("run 3\n")});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, kSeparator + kSeparator + "== Number of events: 0\n" + kSeparator + kSeparator);
}

// Every way out of kivo leaves nothing it made unreachable: under the
// sanitizers a leak would end these runs with LeakSanitizer's status instead.
TEST_F(MonitorSessionTest, EveryExitLeavesNothingLeaked) {
  const std::string data_only = stream(repeat("event\nhit 1 4 200 17\n", 3));
  EXPECT_EQ(kivo({data_only}).status, 0) << "events without a begin-run";
  EXPECT_EQ(kivo({"-e", "OM()", data_only}).status, 0) << "the canvas drawn";
  EXPECT_EQ(kivo({"-e", "no_such_command()", data_only}).status, 1) << "a start-up command refused";
  EXPECT_EQ(run_program({KIVO_BIN, "-q", "--port", "0", data_only}).status, 0) << "the display on";
  EXPECT_EQ(run_program({KIVO_BIN, "-b"}, "OM();\n.q\n").status, 0) << "quit at the prompt";
}

TEST_F(MonitorSessionTest, StatusOfARunWithHitsOnTwoStaves) {
  // Unit 1 channel 1 is stave 0 chip 0; unit 1 channel 17 is stave 3 chip 0.
  std::string events = stream("run 5\nevent\nhit 1 17 100 5\nhit 1 1 110 300\n");
  Finished run = kivo({"-e", "run();", "-e", "print_status();", events});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string common = "== events: 1\n== Total hits: 1 (1)\n== Total Warnings: 0 (0)\n"
                             "== Total Errors: 0 (0)\n== <hits/event>: 1\n== RMS(hits/event): 0\n";
  EXPECT_EQ(run.out, " processing event 0\n" + kSeparator + kSeparator +
                         "== Number of events: 1\n" + kSeparator + "==== Chip 0\n" + common +
                         "== <col>: 300\n== <row>: 401\n" + kSeparator + "==== Chip 3\n" + common +
                         "== <col>: 5\n== <row>: 411\n== <dcol>: 0 (0)\n== <drow>: 0 (0)\n" +
                         kSeparator + kSeparator);
}

TEST_F(MonitorSessionTest, NewRefreshIntervalTakesEffectAtItsNextMultiple) {
  std::string events = stream("run 1\n" + repeat("event nopacket\n", 4001));
  Finished run = kivo({"-e", "run(2501);", "-e", "sources()",     // begin-run + data events 0..2499
                       "-e", "set_refresh(1000)", "-e", "run(500);", "-e", "sources()",
                       "-e", "run(1);", "-e", "sources()",         // data event counted 3000
                       "-e", "run(999);", "-e", "sources()", "-e", "run(1);", "-e", "sources()",
                       events});
  ASSERT_EQ(run.status, 0) << run.err;
  std::vector<int> updates = canvas_updates(run.err);
  ASSERT_EQ(updates.size(), 5u) << run.err;
  EXPECT_GT(updates[0], 0) << "the begin-run event draws the canvas";
  const int first = updates[0];
  for (int& count : updates) count -= first;
  EXPECT_EQ(updates, (std::vector<int>{0, 0, 1, 1, 2})) << run.err;
}

TEST_F(MonitorSessionTest, SourcesTellsTheEventRate) {
  Finished run = kivo({"-e", "run();", "-e", "sources()", stream("run 1\n" + repeat("event\nhit 1 4 200 17\n", 200))});
  ASSERT_EQ(run.status, 0) << run.err;
  std::smatch match;
  ASSERT_TRUE(std::regex_search(run.err, match,
                                std::regex("\n201 events processed, [0-9]+ canvas updates published, background on\n"
                                           "event rate: ([0-9]+) events/s\n")))
      << run.err;
  EXPECT_GT(std::stoi(match[1]), 0);
}

// Browsers that stop halfway through a request or never read the answer
// hold the display's threads, never the processing of events.
TEST_F(MonitorSessionTest, StalledBrowsersDoNotHoldUpEventProcessing) {
  std::string events = stream("run 1\n" + repeat("event\nhit 1 4 200 17\nhit 1 9 10 10\n", 1500));
  kivo::test::LiveProcess kivo({KIVO_BIN, "--port", "0"});
  ASSERT_TRUE(kivo.wait_for_err("/\n")) << kivo.err();
  const int port = display_port(kivo.err());
  ASSERT_GT(port, 0) << kivo.err();
  kivo.write("stop()\nset_refresh(250)\nopen(\"" + events + "\")\nrun(501)\n");
  ASSERT_TRUE(kivo.wait_for_out("(int) 501\n")) << kivo.err();
  std::vector<int> clients;
  for (int i = 0; i < 40; ++i) {
    const char* request = i % 2 ? "GET /update.json HTTP/1.1\r\nHost: kivo\r\n\r\n" : "GET /update.json HTTP/1.1\r\n";
    if (const int fd = stalled_client(port, request); fd >= 0) clients.push_back(fd);
  }
  ASSERT_FALSE(clients.empty());
  kivo.write("run()\nsources()\n");  // 1000 more events, 4 canvas updates, while they stall
  EXPECT_TRUE(kivo.wait_for_out("(int) 1000\n")) << kivo.out();
  EXPECT_TRUE(kivo.wait_for_err("\n1501 events processed")) << kivo.err();
  for (const int fd : clients) close(fd);
  kivo.write(".q\n");
  EXPECT_EQ(kivo.wait(), 0) << kivo.err();
}

TEST_F(MonitorSessionTest, VerbosityTypedWhileAFollowedFileGrowsAppliesToLaterEvents) {
  std::string path = stream("run 9\nevent\nhit 1 4 200 17\n");
  kivo::test::LiveProcess kivo({KIVO_BIN, "-b"});
  kivo.write("follow(\"" + path + "\")\n");
  ASSERT_TRUE(kivo.wait_for_out(" processing event 0\n"));
  kivo.write("set_verbose(3);\nsources()\n");
  ASSERT_TRUE(kivo.wait_for_err("canvas updates published"));
  std::string more = directory + "/more.kevt";
  kivo::test::pack("run 9\nevent\nhit 1 4 200 17\nevent\nhit 2 3 7 5\nhit 2 3 9 5\n", more);
  std::string bytes = kivo::test::read_file(more);
  std::string first = kivo::test::read_file(path);
  ASSERT_EQ(bytes.compare(0, first.size(), first), 0);
  std::ofstream(path, std::ios::binary | std::ios::app) << bytes.substr(first.size());
  ASSERT_TRUE(kivo.wait_for_out("    chip:1 npixels:2 mean:(5, 8)\n")) << kivo.out();
  kivo.write("stop()\n.q\n");
  EXPECT_EQ(kivo.wait(), 0);
  EXPECT_EQ(kivo.out(), " processing event 0\n    chip:1 npixels:2 mean:(5, 8)\n");
}

TEST_F(MonitorSessionTest, SnapshotRendersTheCanvas) {
  std::string image = directory + "/canvas.svg";
  Finished run = kivo({"-e", "run();", "-e", "snapshot(\"" + image + "\")",
                       stream("run 2\nevent\nhit 1 4 200 17\n")});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(kivo::test::read_file(image).rfind("<svg", 0), 0u);
}

// The canvas goes to the renderer kivo keeps running over a socket, not
// through a file of the temporary directory.
TEST_F(MonitorSessionTest, SnapshotNeedsNoTemporaryDirectory) {
  const std::string missing = directory + "/missing";
  Finished run = run_program({"/usr/bin/env", "TMPDIR=" + missing, KIVO_BIN, "-b", "-q", "-e", "OM();",
                              "--snapshot", directory + "/canvas.svg", stream("run 2\n")});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(kivo::test::read_file(directory + "/canvas.svg").starts_with("<svg"));
}

TEST_F(MonitorSessionTest, SaveWritesOneListWithHistogramsGraphsAndCanvas) {
  std::string events = stream("run 2\nevent\nhit 1 4 200 17\nhit 1 9 10 10\n");
  std::string saved = directory + "/monitor.json";
  Finished run = kivo({"-e", "run();", "-e", "OM();", "-e", "save(\"" + saved + "\")", events});
  ASSERT_EQ(run.status, 0) << run.err;
  std::string json = kivo::test::read_file(saved);
  EXPECT_EQ(json.rfind("{\"_typename\":\"TList\"", 0), 0u) << json.substr(0, 80);
  for (const char* name : {"\"h2d_chip_0\"", "\"hnevent\"", "\"gmpos_chip_3\"", "\"TCanvas\""}) {
    EXPECT_NE(json.find(name), std::string::npos) << name;
  }
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(directory)) ++files;
  EXPECT_EQ(files, 2u) << "only the stream and the saved file";

  Finished unwritable = kivo({"-e", "save(\"" + directory + "/no/such/dir/x.json\")", events});
  EXPECT_EQ(unwritable.status, 1);
  EXPECT_NE(unwritable.err.find("save: cannot write"), std::string::npos) << unwritable.err;
}

}  // namespace
