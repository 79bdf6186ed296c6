// The recent view of the hit maps: the hits of each window of events with
// the detector packet, per overview block, whichever way the fill path keeps
// the block sums (in the loop, from the log between refreshes, or computed
// afresh), and windows that start again with the run.
#include <gtest/gtest.h>

#include <numeric>
#include <sstream>
#include <vector>

#include "kivo.h"
#include "map_kernels.h"
#include "monitor_plugin.h"
#include "monitor_state.h"
#include "monitor_test_support.h"

namespace {

using monitor_test::hit_line;
using monitor_test::process_text;

constexpr int kWindow = 10;

class RecentMaps : public ::testing::Test {
 protected:
  void SetUp() override {
    monitor_test::reset_monitor();
    ASSERT_EQ(kivo_set_recent_window(kWindow), 0);
  }
  void TearDown() override {
    kivo_set_recent_window(0);
    monitor_test::reset_monitor();
  }
};

// `events` events, each with one hit of stave 0 at chip-wide column `col`, chip row `row`.
std::string events_at(int events, int col, int row) {
  std::ostringstream text;
  for (int e = 0; e < events; e++) text << "event\n" << hit_line(0, col, row);
  return text.str();
}

int block_of_pixel(int col, int row) { return block_of_bin(col + 1, 512 - row); }

std::vector<float> recent_blocks(int stave) {
  std::vector<float> blocks(kOverviewBinsX * kOverviewBinsY, -1);
  EXPECT_EQ(kivo_recent_blocks(stave, blocks.data()), 0);
  return blocks;
}

KivoRecentWindow recent_window(int expected_status = 0) {
  KivoRecentWindow window{};
  EXPECT_EQ(kivo_recent_window(&window), expected_status);
  return window;
}

// Three windows' worth of events at three places; the last complete window
// shows the middle place only, also with refreshes between the events.
void expect_middle_window_only() {
  process_text(events_at(kWindow, 100, 100) + events_at(kWindow, 5000, 10) + events_at(kWindow / 2, 8000, 300));
  const KivoRecentWindow window = recent_window();
  EXPECT_EQ(window.first_event, kWindow + 1);
  EXPECT_EQ(window.last_event, 2 * kWindow);
  EXPECT_EQ(window.events, kWindow);
  const std::vector<float> blocks = recent_blocks(0);
  EXPECT_EQ(blocks[block_of_pixel(5000, 10)], kWindow);
  EXPECT_EQ(blocks[block_of_pixel(100, 100)], 0);
  EXPECT_EQ(blocks[block_of_pixel(8000, 300)], 0);
  EXPECT_EQ(std::accumulate(blocks.begin(), blocks.end(), 0.0), kWindow);
  const std::vector<float> other = recent_blocks(1);
  EXPECT_EQ(std::accumulate(other.begin(), other.end(), 0.0), 0);
}

TEST_F(RecentMaps, TheLastCompleteWindowHoldsItsOwnHitsOnly) { expect_middle_window_only(); }

TEST_F(RecentMaps, RefreshesBetweenTheEventsChangeNothing) {
  kivo_refresh = 3;  // the fill path logs its changes between analyses
  monitor_test::capture_stdout(expect_middle_window_only);
}

TEST_F(RecentMaps, WindowsCountOnlyEventsWithThePacket) {
  process_text(events_at(kWindow - 1, 200, 50) + "event nopacket\nevent nopacket\n");
  recent_window(-1);
  process_text(events_at(1, 200, 50));
  EXPECT_EQ(recent_window().last_event, kWindow);
  EXPECT_EQ(recent_blocks(0)[block_of_pixel(200, 50)], kWindow);
}

TEST_F(RecentMaps, ANewRunStartsTheWindowsAgain) {
  process_text(events_at(kWindow, 300, 20));
  const long first_serial = recent_window().serial;
  process_text("run 8\n" + events_at(kWindow - 1, 300, 20));
  const KivoRecentWindow none = recent_window(-1);
  EXPECT_EQ(none.events, kWindow) << "the length set is told even without a window";
  float out[kOverviewBinsX * kOverviewBinsY];
  EXPECT_EQ(kivo_recent_blocks(0, out), -1);
  process_text(events_at(1, 300, 20));
  const KivoRecentWindow window = recent_window();
  EXPECT_GT(window.serial, first_serial);
  EXPECT_EQ(window.first_event, 1);
  EXPECT_EQ(recent_blocks(0)[block_of_pixel(300, 20)], kWindow);
}

// Set mid-run, the first window starts at the next multiple of its length.
TEST_F(RecentMaps, AWindowSetMidRunStartsAtTheNextBoundary) {
  ASSERT_EQ(kivo_set_recent_window(0), 0);
  process_text(events_at(5, 400, 30));
  ASSERT_EQ(kivo_set_recent_window(kWindow), 0);
  process_text(events_at(2 * kWindow - 6, 400, 30));
  recent_window(-1);
  process_text(events_at(1, 400, 30));
  const KivoRecentWindow window = recent_window();
  EXPECT_EQ(window.first_event, kWindow + 1);
  EXPECT_EQ(window.last_event, 2 * kWindow);
  EXPECT_EQ(recent_blocks(0)[block_of_pixel(400, 30)], kWindow);
}

TEST_F(RecentMaps, BadArgumentsAreRefused) {
  EXPECT_EQ(kivo_set_recent_window(-5), -1);
  EXPECT_EQ(recent_window(-1).events, kWindow) << "a refused length changes nothing";
  process_text(events_at(kWindow, 10, 10));
  float out[kOverviewBinsX * kOverviewBinsY];
  EXPECT_EQ(kivo_recent_blocks(4, out), -1);
  EXPECT_EQ(kivo_recent_blocks(-1, out), -1);
  ASSERT_EQ(kivo_set_recent_window(0), 0);
  recent_window(-1);
}

}  // namespace
