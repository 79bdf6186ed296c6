// The live view of the hit maps that the host reads: overviews and regions of
// the normalised maps as the last analysis left them, whether or not more
// events or a new run came since, and totals and hot cells of the raw maps.
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <sstream>
#include <vector>

#include "TH2F.h"
#include "kivo.h"
#include "monitor_plugin.h"
#include "monitor_state.h"
#include "monitor_test_support.h"

namespace {

using monitor_test::hit_line;
using monitor_test::process_text;

class LiveView : public ::testing::Test {
 protected:
  void SetUp() override { monitor_test::reset_monitor(); }
  void TearDown() override { monitor_test::reset_monitor(); }
};

// Block maxima of h2d_chip_norm[stave] read bin by bin.
std::vector<float> overview_from_bins(int stave) {
  return monitor_test::block_maxima_by_bins(*h2d_chip_norm[stave]);
}

std::vector<float> overview(int stave) {
  std::vector<float> blocks(kOverviewBinsX * kOverviewBinsY);
  EXPECT_EQ(kivo_norm_overview(stave, blocks.data()), 0);
  return blocks;
}

std::string events_with_hits(int events, int first_col) {
  std::ostringstream text;
  for (int e = 0; e < events; e++) {
    text << "event\n" << hit_line(0, first_col + e % 40, 100 + e % 7) << hit_line(2, 9000, 3);
    if (e % 3 == 0) text << hit_line(0, first_col, 100);
  }
  return text.str();
}

TEST_F(LiveView, OverviewAndRegionAreThoseOfTheLastAnalysis) {
  process_text(events_with_hits(50, 3000));
  ASSERT_EQ(OM(), 0);
  process_text(events_with_hits(20, 5000));  // after the refresh: not shown yet
  kivo_materialise_maps();
  for (int stave : {0, 2, 3}) EXPECT_EQ(overview(stave), overview_from_bins(stave)) << stave;

  std::vector<float> region(30 * 10);
  ASSERT_EQ(kivo_norm_region(0, 2995, 3024, 405, 414, region.data()), 0);
  for (int y = 405; y <= 414; y++)
    for (int x = 2995; x <= 3024; x++)
      ASSERT_EQ(region[(y - 405) * 30 + (x - 2995)], h2d_chip_norm[0]->GetBinContent(x, y))
          << x << "," << y;
  EXPECT_GT(*std::max_element(region.begin(), region.end()), 0);
  EXPECT_EQ(h2d_chip_norm[0]->GetBinContent(5001, 412), 0) << "events after the last analysis";
}

TEST_F(LiveView, ANewRunKeepsTheLastAnalysedMapsOnShow) {
  process_text(events_with_hits(30, 100));
  ASSERT_EQ(OM(), 0);
  const std::vector<float> before = overview(0);
  process_text("run 7\n");  // resets the raw maps; the refresh finds no event
  EXPECT_EQ(overview(0), before);
  float one = 0;
  ASSERT_EQ(kivo_norm_region(0, 101, 101, 412, 412, &one), 0);
  EXPECT_GT(one, 0);
}

TEST_F(LiveView, StavesAndRegionsOutsideTheMapsAreRefused) {
  ASSERT_EQ(OM(), 0);
  float out[kOverviewBinsX * kOverviewBinsY];
  EXPECT_EQ(kivo_norm_overview(4, out), -1);
  EXPECT_EQ(kivo_norm_overview(-1, out), -1);
  EXPECT_EQ(kivo_norm_region(4, 1, 1, 1, 1, out), -1);
  EXPECT_EQ(kivo_norm_region(0, 0, 1, 1, 1, out), -1);
  EXPECT_EQ(kivo_norm_region(0, 9216, 9217, 1, 1, out), -1);
  EXPECT_EQ(kivo_norm_region(0, 1, 1, 512, 513, out), -1);
  EXPECT_EQ(kivo_norm_region(0, 2, 1, 1, 1, out), -1);
}

TEST_F(LiveView, ChipTotalsAndHotCellsOfTheRawMaps) {
  process_text("event\n" + hit_line(1, 2047, 0) + hit_line(1, 2047, 0) + hit_line(1, 2048, 5) +
               hit_line(1, 9215, 511) + hit_line(1, 20, 900));  // the last one: underflow
  EXPECT_EQ(kivo_chip_hits(1, 1), 2);
  EXPECT_EQ(kivo_chip_hits(1, 2), 1);
  EXPECT_EQ(kivo_chip_hits(1, 8), 1);
  EXPECT_EQ(kivo_chip_hits(1, 0), 0) << "hits outside the map count nowhere";
  EXPECT_EQ(kivo_chip_hits(1, 9), -1);

  int xbins[2], ybins[2];
  int above = -1;
  EXPECT_EQ(kivo_hot_cells(1, 1.5, 10, xbins, ybins, 2, &above), 1);
  EXPECT_EQ(above, 1);
  EXPECT_EQ(xbins[0], 2048);
  EXPECT_EQ(ybins[0], 512);
  ASSERT_EQ(kivo_hot_cells(1, 0.5, 10, xbins, ybins, 2, &above), 3) << "every hit stands alone";
  EXPECT_EQ(above, 3);
  EXPECT_EQ(ybins[0], 1) << "ordered by row, then column";
  EXPECT_EQ(xbins[0], 9216);
  EXPECT_EQ(ybins[1], 507);
  EXPECT_EQ(kivo_hot_cells(1, 0.5, 10, xbins, ybins, 0, nullptr), 3);
  EXPECT_EQ(kivo_hot_cells(4, 0.5, 10, xbins, ybins, 2, &above), -1);
  EXPECT_EQ(kivo_hot_cells(1, 0.5, -1, xbins, ybins, 2, &above), -1);
  EXPECT_EQ(kivo_hot_cells(1, 0.5, std::numeric_limits<double>::quiet_NaN(), xbins, ybins, 2, &above), -1);

  process_text("event\n" + hit_line(1, 2046, 0) + hit_line(1, 2046, 0));
  EXPECT_EQ(kivo_hot_cells(1, 1.5, 10, xbins, ybins, 2, &above), 2) << "two hot pixels side by side";
  EXPECT_EQ(above, 2);

  reset_histos();
  EXPECT_EQ(kivo_chip_hits(1, 1), 0);
  EXPECT_EQ(kivo_hot_cells(1, 0, 10, xbins, ybins, 2, &above), 0);
  EXPECT_EQ(above, 0);
}

// One event with a hit on every pixel of a 40 x 12 patch of stave 2 and
// `extra` more on one pixel inside it.
std::string patch_event(int extra) {
  std::string text = "event\n";
  for (int row = 100; row < 112; row++)
    for (int column = 3000; column < 3040; column++) text += hit_line(2, column, row);
  for (int i = 0; i < extra; i++) text += hit_line(2, 3020, 105);
  return text;
}

TEST_F(LiveView, AHotPixelInsideABeamIsFoundWhileTheBeamGrows) {
  std::vector<int> xbins(8), ybins(8);
  int above = 0;
  for (int round = 1; round <= 4; round++) {
    SCOPED_TRACE(round);
    process_text(patch_event(0));
    ASSERT_EQ(kivo_hot_cells(2, 0.5, 10, xbins.data(), ybins.data(), 8, &above), 4) << "its corners only";
    EXPECT_EQ(above, 480);
    EXPECT_EQ(xbins[0], 3001);
    EXPECT_EQ(ybins[0], 401);
  }
  process_text(patch_event(60));  // 65 hits beside 5 each
  ASSERT_EQ(kivo_hot_cells(2, 0.5, 10, xbins.data(), ybins.data(), 8, &above), 5);
  EXPECT_EQ(above, 480);
  EXPECT_EQ(xbins[2], 3021);
  EXPECT_EQ(ybins[2], 407);
  EXPECT_EQ(kivo_hot_cells(2, 0.5, 10, xbins.data(), ybins.data(), 8, &above), 5) << "asked again";
  h2d_chip[2]->SetBinContent(3021, 407, 5);  // by hand, behind the fills
  EXPECT_EQ(kivo_hot_cells(2, 0.5, 10, xbins.data(), ybins.data(), 8, &above), 4);
}

}  // namespace
