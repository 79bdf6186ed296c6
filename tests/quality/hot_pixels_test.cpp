// Finding hot pixels in a real hit map: alone and far above their
// neighbours they count; a beam spot, however intense, never does.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "Checks.h"
#include "TH2F.h"

namespace kivo::quality {
namespace {

TH2F* g_map = nullptr;

// The lower median of the in-range neighbours of bin (x, y) of the map.
double neighbour_median(int x, int y) {
  std::vector<double> contents;
  for (int ny = y - 1; ny <= y + 1; ++ny)
    for (int nx = x - 1; nx <= x + 1; ++nx)
      if ((nx != x || ny != y) && nx >= 1 && nx <= g_map->GetNbinsX() && ny >= 1 && ny <= g_map->GetNbinsY())
        contents.push_back(g_map->GetBinContent(nx, ny));
  std::sort(contents.begin(), contents.end());
  return contents[(contents.size() - 1) / 2];
}

// The live-view contract over the one map of these tests.
int hot_cells(int, double threshold, double ratio, int* xbins, int* ybins, int capacity, int* above) {
  int found = 0;
  *above = 0;
  for (int y = 1; y <= g_map->GetNbinsY(); ++y)
    for (int x = 1; x <= g_map->GetNbinsX(); ++x) {
      const double content = g_map->GetBinContent(x, y);
      if (!(content > threshold)) continue;
      ++*above;
      if (!(content > ratio * neighbour_median(x, y))) continue;
      if (found < capacity) {
        xbins[found] = x;
        ybins[found] = y;
      }
      ++found;
    }
  return found;
}

class HotPixels : public ::testing::Test {
 protected:
  void SetUp() override {
    map = std::make_unique<TH2F>("hot_test_map", "", 9216, -0.5, 9215.5, 512, -0.5, 511.5);
    map->SetDirectory(nullptr);
    g_map = map.get();
    maps[0] = map.get();
    inputs.maps = maps;
    inputs.hot_cells = hot_cells;
  }
  void TearDown() override { g_map = nullptr; }

  void set(int column, int row, double hits) { map->SetBinContent(column + 1, row + 1, hits); }
  kivo::quality::HotPixels find(double events) {
    return find_hot_pixels(inputs, 0, events, config.hot_pixels);
  }

  std::unique_ptr<TH2F> map;
  TH2F* maps[kStaves] = {};
  MonitorInputs inputs{};
  Config config = default_config();
};

TEST_F(HotPixels, PixelsThatStandOutAreListedFromHalfTheShareOfTheWindow) {
  set(3089, 311, 5000);
  set(3090, 311, 20);    // below 1% of half the 5000-event window
  set(100, 100, 30);     // above it: listed, though whether it fires is judged later
  const kivo::quality::HotPixels hot = find(10000);
  EXPECT_EQ(hot.threshold, 25);
  ASSERT_EQ(hot.pixels.size(), 2u);
  EXPECT_EQ(hot.pixels[0].column, 100) << "by row, then column";
  EXPECT_EQ(hot.pixels[1].column, 3089);
  EXPECT_EQ(hot.pixels[1].row, 311);
  EXPECT_EQ(hot.hits, 5030);
  EXPECT_EQ(hot.candidates, 2);
  EXPECT_EQ(find(1000).threshold, 9) << "at least min_hits";
}

TEST_F(HotPixels, ABlockOfHotPixelsIsListedWhole) {
  for (int column = 2148; column < 2153; ++column)
    for (int row = 100; row < 106; ++row) set(column, row, 900 + column + row);
  set(2147, 100, 3);  // the ring around the block: background
  const kivo::quality::HotPixels hot = find(10000);
  ASSERT_EQ(hot.pixels.size(), 30u) << "not only the corners";
  EXPECT_TRUE(std::all_of(hot.pixels.begin(), hot.pixels.end(), [](const HotPixel& p) { return p.in_block; }));
  EXPECT_NE(hot.find(2150, 103), nullptr);
}

TEST_F(HotPixels, LargeBlocksAreListedWholeAtEveryReading) {
  // Blocks of 70 and 40 pixels: more than a flood fill keeps in a list, so
  // its marks are bits too, which must be cleared for the next block and
  // the next reading.
  for (int column = 2148; column < 2158; ++column)
    for (int row = 100; row < 107; ++row) set(column, row, 900 + column + row);
  for (int column = 6000; column < 6008; ++column)
    for (int row = 300; row < 305; ++row) set(column, row, 700 + column - row);
  for (int reading = 0; reading < 2; ++reading) {
    const kivo::quality::HotPixels hot = find(10000);
    ASSERT_EQ(hot.pixels.size(), 110u) << "reading " << reading;
    EXPECT_TRUE(std::all_of(hot.pixels.begin(), hot.pixels.end(), [](const HotPixel& p) { return p.in_block; }));
    EXPECT_NE(hot.find(2153, 103), nullptr) << "reading " << reading;
    EXPECT_NE(hot.find(6004, 302), nullptr) << "reading " << reading;
  }
}

TEST_F(HotPixels, TwoAdjacentHotPixelsBothCount) {
  set(500, 20, 3000);
  set(501, 20, 2800);
  set(8000, 0, 900);  // at the edge: five neighbours
  EXPECT_EQ(find(10000).pixels.size(), 3u);
}

TEST_F(HotPixels, ManyHotPixelsAreAllFound) {
  for (int i = 0; i < 5000; ++i) set(i % 3000 * 3, i / 3000 * 3, 200 + i);
  const kivo::quality::HotPixels hot = find(10000);
  ASSERT_EQ(hot.pixels.size(), 5000u);
  EXPECT_EQ(hot.candidates, 5000);
  EXPECT_EQ(hot.pixels.front().hits, 200) << "by row, then column";
  EXPECT_EQ(hot.hits, 5000 * 200 + 4999 * 5000 / 2);
}

TEST_F(HotPixels, TheBeamSpotNeverCounts) {
  // A narrow, intense beam: its core pixels fire in far more than 1% of
  // the events, as after a long run, but so do their neighbours.
  for (int column = 4570; column <= 4650; ++column)
    for (int row = 216; row <= 296; ++row) {
      const double r2 = (column - 4610) * (column - 4610) + (row - 256) * (row - 256);
      set(column, row, std::floor(4000 * std::exp(-r2 / 50)));
    }
  const kivo::quality::HotPixels hot = find(10000);
  EXPECT_EQ(hot.pixels.size(), 0u);
  EXPECT_GT(hot.candidates, 400);
}

TEST_F(HotPixels, TheVerdictCountsThoseFiringPerStave) {
  Reading reading;
  reading.events = 10000;
  for (int i = 0; i < 4; ++i) reading.staves[0].hot.pixels.push_back({i * 100, 7, 5000, false, true});
  for (int i = 0; i < 5; ++i) reading.staves[1].hot.pixels.push_back({i * 100, 7, 5000, false, true});
  for (int i = 0; i < 20; ++i) reading.staves[2].hot.pixels.push_back({i * 100, 7, 5000.0 - i, i >= 10, true});
  for (int i = 0; i < 30; ++i) reading.staves[3].hot.pixels.push_back({i * 100, 7, 5000, false, false});
  History history(5000);
  RunMemory memory;
  const std::vector<Result> results = judge_hot_pixels({config, reading, history, nullptr, memory});
  ASSERT_EQ(results.size(), 4u);
  EXPECT_EQ(results[0].verdict, Verdict::Good) << "4: below the Medium limit";
  EXPECT_EQ(results[1].verdict, Verdict::Medium) << "5: at the Medium limit";
  EXPECT_EQ(results[2].verdict, Verdict::Bad) << "20: at the Bad limit";
  EXPECT_EQ(results[3].verdict, Verdict::Good) << "listed, but none fires";
  EXPECT_EQ(results[2].reason,
            "stave 2: 20 hot pixels (firing in more than 1% of the recent events and over 10 times as often as the "
            "pixels around them); 10 of them in blocks of pixels that stand out together (columns 1000 to 1900, rows "
            "7 to 7); the hottest, column 0 row 7, has 5000 hits (50% of the events since the last reset)");
  reading.events = 500;
  EXPECT_EQ(judge_hot_pixels({config, reading, history, nullptr, memory})[2].verdict, Verdict::Null);
}

// Readings of one stave at `events` with one listed pixel of `hits`.
Reading with_pixel(double events, double hits, double threshold) {
  Reading reading;
  reading.run = 1;
  reading.events = reading.data_events = events;
  reading.staves[0].hot.threshold = threshold;
  if (hits > threshold) reading.staves[0].hot.pixels.push_back({10, 10, hits});
  return reading;
}

TEST_F(HotPixels, APixelFiresFromTheRecentEventsNotTheWholeRun) {
  History history(5000);
  const auto firing = [&](double events, double hits) {
    history.add(with_pixel(events, hits, 25));
    Reading& now = history.newest_to_complete();
    mark_firing(now, history, config.hot_pixels);
    return !now.staves[0].hot.pixels.empty() && now.staves[0].hot.pixels[0].firing;
  };
  for (double events = 1000; events <= 20000; events += 1000) EXPECT_FALSE(firing(events, 0));
  EXPECT_FALSE(firing(21000, 21)) << "not listed yet";
  EXPECT_FALSE(firing(22000, 34)) << "at least 9 hits since the last reading: too few to tell";
  history = History(5000);
  for (double events = 1000; events <= 21000; events += 1000) firing(events, events < 21000 ? 0 : 21);
  EXPECT_TRUE(firing(22000, 42)) << "at least 42 - 25 hits since the last reading, which did not list it: 1.7%";
  EXPECT_TRUE(firing(23000, 63)) << "21 hits over the 1000 events since it was first listed: 2.1%";
  for (double events = 24000; events <= 40000; events += 1000) firing(events, 63 + (events - 23000) * 0.021);
  EXPECT_TRUE(firing(41000, 63 + 18000 * 0.021));
  EXPECT_FALSE(firing(42000, 63 + 18000 * 0.021)) << "no hit since the last reading: it stopped";
}

}  // namespace
}  // namespace kivo::quality
