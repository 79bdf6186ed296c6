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

TEST_F(HotPixels, ALonePixelFiringOftenIsHot) {
  set(3089, 311, 5000);  // half of 10000 events
  set(3090, 311, 20);
  set(100, 100, 80);     // fires in 0.8% of the events: below the share
  const kivo::quality::HotPixels hot = find(10000);
  ASSERT_EQ(hot.pixels.size(), 1u);
  EXPECT_EQ(hot.pixels[0].column, 3089);
  EXPECT_EQ(hot.pixels[0].row, 311);
  EXPECT_EQ(hot.hits, 5000);
  EXPECT_EQ(hot.candidates, 1);
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
  EXPECT_EQ(hot.pixels.front().hits, 5199) << "hottest first";
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

TEST_F(HotPixels, TheVerdictCountsThemPerStave) {
  Reading reading;
  reading.events = 10000;
  for (int i = 0; i < 4; ++i) reading.staves[0].hot.pixels.push_back({i * 100, 7, 5000});
  for (int i = 0; i < 5; ++i) reading.staves[1].hot.pixels.push_back({i * 100, 7, 5000});
  for (int i = 0; i < 20; ++i) reading.staves[2].hot.pixels.push_back({i * 100, 7, 5000.0 - i});
  History history(5000);
  RunMemory memory;
  const std::vector<Result> results = judge_hot_pixels({config, reading, history, nullptr, memory});
  ASSERT_EQ(results.size(), 4u);
  EXPECT_EQ(results[0].verdict, Verdict::Good);
  EXPECT_EQ(results[1].verdict, Verdict::Medium);
  EXPECT_EQ(results[2].verdict, Verdict::Bad);
  EXPECT_EQ(results[3].verdict, Verdict::Good);
  EXPECT_EQ(results[2].reason,
            "stave 2: 20 hot pixels (firing in more than 1% of 10000 events and over 10 times as often as their "
            "neighbours); the hottest, column 0 row 7, fired in 50% of the events");
  reading.events = 500;
  EXPECT_EQ(judge_hot_pixels({config, reading, history, nullptr, memory})[2].verdict, Verdict::Null);
}

}  // namespace
}  // namespace kivo::quality
