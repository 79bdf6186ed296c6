// Busy events: bursts of hits on one stave told apart while the hits are
// filled, their hits counted per column and row beside the maps (which keep
// every hit), and events that are not bursts (a beam of any intensity, a
// stave that sees more beam than the others) never taken for them.
#include <gtest/gtest.h>

#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "TH2F.h"
#include "kivo.h"
#include "monitor_plugin.h"
#include "monitor_state.h"
#include "monitor_test_support.h"

namespace {

using monitor_test::hit_line;
using monitor_test::process_text;

struct Busy {
  double events, hits, threshold, most;
  std::vector<double> columns = std::vector<double>(9216, 0.0), rows = std::vector<double>(512, 0.0);
};

Busy busy_of(int stave) {
  Busy busy{};
  double figures[4] = {-1, -1, -1, -1};
  EXPECT_EQ(kivo_busy_events(stave, figures, busy.columns.data(), busy.rows.data()), 0);
  busy.events = figures[0];
  busy.hits = figures[1];
  busy.threshold = figures[2];
  busy.most = figures[3];
  return busy;
}

class BusyEvents : public ::testing::Test {
 protected:
  void SetUp() override { monitor_test::reset_monitor(); }
  void TearDown() override { monitor_test::reset_monitor(); }

  // An event with about `particles` particles of 3 pixels each on every
  // stave (the same on all, as a beam gives them) and `extra[s]` more
  // random hits on stave s.
  std::string beam_event(int particles, const std::vector<int>& extra = {0, 0, 0, 0}) {
    std::string text = "event\n";
    const int n = std::poisson_distribution<int>(particles)(random_);
    for (int p = 0; p < n; p++) {
      const int col = 4000 + static_cast<int>(random_() % 1000), row = 200 + static_cast<int>(random_() % 100);
      for (int s = 0; s < NSTAVE; s++)
        for (int k = 0; k < 3; k++) text += hit_line(s, col + k, row);
    }
    for (int s = 0; s < NSTAVE; s++)
      for (int k = 0; k < extra[static_cast<std::size_t>(s)]; k++)
        text += hit_line(s, static_cast<int>(random_() % 9216), static_cast<int>(random_() % 512));
    return text;
  }
  std::string beam_events(int count, int particles) {
    std::string text;
    for (int i = 0; i < count; i++) text += beam_event(particles);
    return text;
  }

  std::mt19937 random_{5};
};

TEST_F(BusyEvents, ABurstOnOneStaveIsCountedBesideTheMapWhichKeepsEveryHit) {
  process_text(beam_events(400, 5));
  const double entries = h2d_chip[2]->GetEntries();
  EXPECT_GT(busy_of(2).threshold, 100) << "the threshold is known after 200 events";
  // 3000 random hits on stave 2, one beyond its chip's columns and one
  // beyond its rows, which the map does not take into its pixels either.
  std::string burst = beam_event(5, {0, 0, 3000, 0});
  burst += "hit 1 26 600 10\nhit 1 26 10 1500\n";
  process_text(burst);
  const Busy busy = busy_of(2);
  EXPECT_EQ(busy.events, 1);
  EXPECT_GE(busy.hits, 3002);
  EXPECT_EQ(busy.most, busy.hits);
  EXPECT_EQ(std::accumulate(busy.columns.begin(), busy.columns.end(), 0.0), busy.hits - 2);
  EXPECT_EQ(std::accumulate(busy.rows.begin(), busy.rows.end(), 0.0), busy.hits - 2);
  EXPECT_EQ(h2d_chip[2]->GetEntries(), entries + busy.hits) << "the map keeps the burst";
  for (const int other : {0, 1, 3}) EXPECT_EQ(busy_of(other).events, 0);
  process_text(beam_events(50, 5));
  EXPECT_EQ(busy_of(2).events, 1);
  reset_histos();
  EXPECT_EQ(busy_of(2).events, 0);
  EXPECT_EQ(busy_of(2).threshold, 0) << "a reset forgets the distribution";
}

TEST_F(BusyEvents, ABurstAmongTheFirstEventsIsToldByTheOtherStaves) {
  process_text(beam_events(5, 5) + beam_event(5, {0, 2000, 0, 0}));
  EXPECT_EQ(busy_of(1).events, 1);
  EXPECT_EQ(busy_of(1).threshold, 0);
}

TEST_F(BusyEvents, FrequentBurstsStayBusyAndBeamsOfAnyIntensityNever) {
  std::string text;
  for (int i = 0; i < 2000; i++) text += i % 20 == 10 ? beam_event(5, {0, 0, 0, 600}) : beam_event(5);
  process_text(text);
  EXPECT_EQ(busy_of(3).events, 100) << "bursts in 5% of the events do not raise the threshold";
  // The beam ten times as intense on every stave, and a stave that alone
  // sees more: not bursts.
  process_text(beam_events(300, 50));
  for (int i = 0; i < 300; i++) process_text(beam_event(5, {0, 60, 0, 0}));
  EXPECT_EQ(busy_of(3).events, 100);
  for (const int s : {0, 1, 2}) EXPECT_EQ(busy_of(s).events, 0) << s;
}

TEST_F(BusyEvents, RefusesWhatItCannotDo) {
  double figures[4];
  EXPECT_EQ(kivo_busy_events(4, figures, nullptr, nullptr), -1);
  EXPECT_EQ(kivo_busy_events(-1, figures, nullptr, nullptr), -1);
  EXPECT_EQ(kivo_busy_events(0, nullptr, nullptr, nullptr), -1);
  EXPECT_EQ(kivo_busy_events(0, figures, nullptr, nullptr), 0);
  EXPECT_EQ(kivo_set_busy_rule(0, 5, 100), -1);
  EXPECT_EQ(kivo_set_busy_rule(1.5, 5, 100), -1);
  EXPECT_EQ(kivo_set_busy_rule(0.99, 0.5, 100), -1);
  EXPECT_EQ(kivo_set_busy_rule(0.99, 5, -1), -1);
  EXPECT_EQ(kivo_set_busy_rule(0.99, 5, 1.0 / 0.0), -1);
  // A stricter rule takes a burst of 2000 hits for an ordinary event.
  EXPECT_EQ(kivo_set_busy_rule(0.99, 5, 5000), 0);
  process_text(beam_events(5, 5) + beam_event(5, {0, 2000, 0, 0}));
  EXPECT_EQ(busy_of(1).events, 0);
}

}  // namespace
