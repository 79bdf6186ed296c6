// When the host redraws the canvas of its own accord: by time while events
// arrive, and with the display on once the data stop.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "CanvasRefresh.h"

namespace {

using kivo::host::CanvasRefresh;
using std::chrono::milliseconds;
using std::chrono::seconds;

const CanvasRefresh::Clock::time_point start{seconds(1000)};

TEST(CanvasRefreshTest, DataStoppingRedrawsOnlyWithTheDisplayAndOnlyWhenBehind) {
  for (const bool display : {true, false}) {
    CanvasRefresh refresh(display, start);
    EXPECT_FALSE(refresh.due_while_idle(true, start + seconds(10))) << "no data event: nothing to show";
    EXPECT_EQ(refresh.idle_wait_ms(start), -1);
    refresh.data_event(start);
    EXPECT_EQ(refresh.due_after_event(true, start), display) << "end of run";
    EXPECT_EQ(refresh.due_while_idle(true, start), display) << "sources exhausted";
    EXPECT_FALSE(refresh.due_while_idle(false, start + milliseconds(2999))) << "a short pause";
    EXPECT_EQ(refresh.due_while_idle(false, start + seconds(3)), display) << "no event for 3 s";
    EXPECT_EQ(refresh.idle_wait_ms(start + seconds(1)), display ? 2000 : -1);
    refresh.redrawn(start + seconds(4));
    EXPECT_FALSE(refresh.due_while_idle(true, start + seconds(20))) << "redrawn since the last event";
    EXPECT_FALSE(refresh.due_after_event(true, start + seconds(20)));
  }
}

TEST(CanvasRefreshTest, IntervalRedrawsOnceItPassedAndEventsCame) {
  CanvasRefresh refresh(false, start);
  EXPECT_EQ(refresh.set_interval(2.5), "");
  EXPECT_EQ(refresh.interval(), 2.5);
  refresh.data_event(start + seconds(1));
  EXPECT_FALSE(refresh.due_after_event(false, start + seconds(2)));
  EXPECT_EQ(refresh.idle_wait_ms(start + seconds(2)), 500);
  EXPECT_TRUE(refresh.due_after_event(false, start + milliseconds(2500)));
  EXPECT_TRUE(refresh.due_while_idle(false, start + milliseconds(2500)));
  refresh.redrawn(start + seconds(3));
  EXPECT_FALSE(refresh.due_while_idle(false, start + seconds(9))) << "no event since";
  refresh.data_event(start + seconds(4));
  EXPECT_FALSE(refresh.due_after_event(false, start + seconds(5)));
  EXPECT_TRUE(refresh.due_after_event(false, start + milliseconds(5500)));

  EXPECT_EQ(refresh.set_interval(0), "");
  EXPECT_EQ(refresh.interval(), 0);
  EXPECT_FALSE(refresh.due_after_event(false, start + seconds(60)));
}

TEST(CanvasRefreshTest, RefusesIntervalsThatAreNoNumberOfSeconds) {
  CanvasRefresh refresh(true, start);
  ASSERT_EQ(refresh.set_interval(10), "");
  for (const double bad : {-1.0, std::nan(""), 1e300, std::numeric_limits<double>::infinity()}) {
    EXPECT_NE(refresh.set_interval(bad), "") << bad;
    EXPECT_EQ(refresh.interval(), 10) << "unchanged by " << bad;
  }
}

TEST(CanvasRefreshTest, WaitsForTheSoonerOfStopAndInterval) {
  CanvasRefresh refresh(true, start);
  ASSERT_EQ(refresh.set_interval(1), "");
  refresh.data_event(start);
  EXPECT_EQ(refresh.idle_wait_ms(start + milliseconds(200)), 800);
  refresh.redrawn(start + milliseconds(900));
  refresh.data_event(start + milliseconds(1000));
  EXPECT_EQ(refresh.idle_wait_ms(start + milliseconds(1000)), 900);
  EXPECT_EQ(refresh.idle_wait_ms(start + seconds(30)), 0) << "overdue: no wait";
}

}  // namespace
