// Event processing: dispatch by event type, decoding of packet 2000 into the
// raw histograms, the per-stave summaries and differences, messages, and the
// refresh cadence.
#include <gtest/gtest.h>

#include <sstream>

#include "CanvasPublisher.h"
#include "TH1F.h"
#include "TH2F.h"
#include "kivo.h"
#include "monitor_plugin.h"
#include "monitor_state.h"
#include "monitor_test_support.h"

namespace {

using monitor_test::capture_stdout;
using monitor_test::hit_line;
using monitor_test::process_text;

class EventProcessing : public ::testing::Test {
 protected:
  void SetUp() override { monitor_test::reset_monitor(); }
  void TearDown() override { monitor_test::reset_monitor(); }
};

double map_content(int stave, int col, int displayed_row) {
  TH2F* map = h2d_chip[stave];
  return map->GetBinContent(map->GetXaxis()->FindBin(col), map->GetYaxis()->FindBin(displayed_row));
}

TEST_F(EventProcessing, BeginRunRecordsTheRunAndEmptiesTheRawHistograms) {
  process_text("event\n" + hit_line(0, 10, 20) + hit_line(3, 10, 20) + "event\n");
  ASSERT_EQ(hnevnt->Integral(""), 2);
  ASSERT_EQ(kivo_evnts, 2);
  process_text("run 42\n");
  EXPECT_EQ(kivo_run, 42);
  EXPECT_EQ(kivo_evnts, 0);
  EXPECT_EQ(hnevnt->GetEntries(), 0);
  EXPECT_EQ(hchip->GetEntries(), 0);
  for (int s = 0; s < NSTAVE; s++) {
    EXPECT_EQ(h2d_chip[s]->GetEntries(), 0);
    EXPECT_EQ(hdiffrow_chip[s]->GetEntries(), 0);
    EXPECT_EQ(hdiffcol_chip[s]->GetEntries(), 0);
    EXPECT_EQ(hnhit_chip[s]->GetEntries(), 0);
  }
  EXPECT_EQ(hhittime_chip[0]->GetEntries(), 1) << "hit-time histograms span runs";
}

TEST_F(EventProcessing, OtherEventTypesChangeAndPrintNothing) {
  process_text("event\n" + hit_line(0, 10, 20));
  const std::string printed = capture_stdout([] { process_text("end 3\ntype 7\n"); });
  EXPECT_EQ(printed, "");
  EXPECT_EQ(kivo_evnts, 1);
  EXPECT_EQ(kivo_run, 0);
  EXPECT_EQ(hnevnt->Integral(""), 1);
}

TEST_F(EventProcessing, DataEventWithoutPacketIsCountedButFillsNothing) {
  const std::string printed = capture_stdout([] { process_text("event nopacket\n"); });
  EXPECT_EQ(printed, " processing event 0\n");
  EXPECT_EQ(kivo_evnts, 1);
  EXPECT_EQ(hnevnt->GetEntries(), 0);
  EXPECT_EQ(hchip->GetEntries(), 0);
}

TEST_F(EventProcessing, ProgressLineEveryHundredThousandDataEvents) {
  kivo_evnts = 100000;
  EXPECT_EQ(capture_stdout([] { process_text("event\nevent\n"); }),
            " processing event 100000\n");
  EXPECT_EQ(kivo_evnts, 100002);
}

TEST_F(EventProcessing, UnmappedChannelPrintsOneLinePerHitAndDropsIt) {
  const std::string printed = capture_stdout([] {
    process_text(
        "event\nhit 1 28 1 1\nhit 1 28 2 2\nhit 1 28 3 3\nhit 0 5 1 1\nhit 3 1 1 1\n" +
        hit_line(0, 7, 8));
  });
  EXPECT_EQ(printed,
            "invalid: (ruid 0, ruchn 5) \n"
            "invalid: (ruid 1, ruchn 28) \n"
            "invalid: (ruid 1, ruchn 28) \n"
            "invalid: (ruid 1, ruchn 28) \n"
            "invalid: (ruid 3, ruchn 1) \n"
            " processing event 0\n");
  EXPECT_EQ(hchip->GetBinContent(1), 1);
  for (int s = 0; s < NSTAVE; s++)
    EXPECT_EQ(h2d_chip[s]->GetEntries(), s == 0 ? 1 : 0);
}

TEST_F(EventProcessing, UnitsAndChannelsOutsideTheWalkedRangeAreIgnored) {
  const std::string printed =
      capture_stdout([] { process_text("event\nhit 5 1 1 1\nhit 1 29 1 1\nunit 2\n"); });
  EXPECT_EQ(printed, " processing event 0\n");
  EXPECT_EQ(hnevnt->Integral(""), 1);
  EXPECT_EQ(hchip->GetEntries(), 0);
}

TEST_F(EventProcessing, HitMapTakesStaveWideColumnAndFlippedRow) {
  process_text("event\nhit 1 27 200 17\nhit 2 1 0 0\nhit 1 9 511 1023\n");
  EXPECT_EQ(map_content(0, 8 * 1024 + 17, 311), 1);
  EXPECT_EQ(map_content(1, 2 * 1024, 511), 1);
  EXPECT_EQ(map_content(3, 8 * 1024 + 1023, 0), 1);
  EXPECT_EQ(hchip->GetBinContent(1), 1);
  EXPECT_EQ(hchip->GetBinContent(2), 1);
  EXPECT_EQ(hchip->GetBinContent(4), 1);
}

TEST_F(EventProcessing, OutOfChipRowsAndColumnsLandInOverflowAndEnterTheMeans) {
  set_verbose(3);
  const std::string printed =
      capture_stdout([] { process_text("event\nhit 1 1 600 10\nhit 1 1 0 10000\n"); });
  EXPECT_EQ(printed,
            "    chip:0 npixels:2 mean:(5005, 300)\n"
            " processing event 0\n");
  EXPECT_EQ(h2d_chip[0]->GetEntries(), 2);
  EXPECT_EQ(h2d_chip[0]->Integral(), 0) << "both hits lie outside the map's bins";

  process_text("event\nhit 1 1 3 1500\n");
  EXPECT_EQ(map_content(0, 1500, 508), 0) << "column 1500 of chip 0 is not column 476 of chip 1";
  EXPECT_EQ(h2d_chip[0]->GetBinContent(9217, 509), 1);
}

TEST_F(EventProcessing, HitMapContentsAndStatisticsEqualOneFillPerHit) {
  TH2F reference("reference", "", 9216, -0.5, 9215.5, 512, -0.5, 511.5);
  std::ostringstream text;
  const int hits[][2] = {{3, 7}, {1030, 500}, {9211, 0}, {5000, 600}, {10000, 3}, {3, 7}};
  for (int round = 0; round < 700; round++) {
    text << "event\n";
    for (const auto& [col, row] : hits) {
      text << hit_line(2, col % 9216 + round % 5, row);
      reference.Fill(col % 9216 + round % 5, 511 - row);
    }
    text << "hit 1 18 4 " << 2000 + round << "\n";  // chip 8 of stave 2: beyond the map
    reference.Fill(8 * 1024 + 2000 + round, 507);
  }
  process_text(text.str());
  TH2F* map = h2d_chip[2];
  EXPECT_EQ(map->GetEntries(), reference.GetEntries());
  double stats[TH1::kNstat] = {}, expected[TH1::kNstat] = {};
  map->GetStats(stats);
  reference.GetStats(expected);
  for (int k = 0; k < 7; k++) EXPECT_EQ(stats[k], expected[k]) << "sum " << k;
  for (int x = 0; x <= 9217; x++)
    for (int y = 0; y <= 513; y++)
      ASSERT_EQ(map->GetBinContent(x, y), reference.GetBinContent(x, y)) << x << "," << y;
}

TEST_F(EventProcessing, StatisticsAfterOnlyOutOfRangeHitsStartFromNothing) {
  process_text("event\nhit 1 1 700 5\nevent\n" + hit_line(0, 40, 11) + hit_line(0, 42, 13));
  TH2F* map = h2d_chip[0];
  EXPECT_EQ(map->GetEntries(), 3);
  EXPECT_DOUBLE_EQ(map->GetMean(1), 41);
  EXPECT_DOUBLE_EQ(map->GetMean(2), 499);
  EXPECT_DOUBLE_EQ(map->GetRMS(1), 1);
}

// Sums at 2^53 lose a lone 1 to rounding: adding the hits one by one keeps
// the sums where they are, while adding them up first would not.
TEST_F(EventProcessing, HitMapSumsGrowOneHitAtATimeAsFillDoes) {
  TH2F reference("reference", "", 9216, -0.5, 9215.5, 512, -0.5, 511.5);
  double start[TH1::kNstat] = {1, 1, 0x1p53, 0x1p53, 0x1p53, 0x1p53, 0x1p53};
  for (TH2F* map : {h2d_chip[0], &reference}) {
    map->PutStats(start);
    map->SetEntries(1);
  }
  process_text("event\n" + hit_line(0, 1, 510) + hit_line(0, 1, 510) + hit_line(0, 3, 508));
  for (const auto& [col, displayed_row] : {std::pair{1, 1}, {1, 1}, {3, 3}})
    reference.Fill(col, displayed_row);
  double stats[TH1::kNstat] = {}, expected[TH1::kNstat] = {};
  h2d_chip[0]->GetStats(stats);
  reference.GetStats(expected);
  for (int k = 0; k < 7; k++) EXPECT_EQ(stats[k], expected[k]) << "sum " << k;
  EXPECT_EQ(h2d_chip[0]->GetEntries(), reference.GetEntries());
}

TEST_F(EventProcessing, StaveCountsOnlyBelowMaxNpixels) {
  max_npixels = 3;
  process_text("event\n" + hit_line(0, 1, 1) + hit_line(0, 2, 1) + hit_line(0, 3, 1) +
               hit_line(3, 1, 1) + hit_line(3, 2, 1));
  EXPECT_EQ(h2d_chip[0]->GetEntries(), 3) << "the map gets every mapped hit";
  EXPECT_EQ(hchip->GetBinContent(1), 0);
  EXPECT_EQ(hchip->GetBinContent(4), 2);
  EXPECT_EQ(hhittime_chip[0]->GetEntries(), 0);
  EXPECT_EQ(hnhit_chip[0]->GetEntries(), 0);
  EXPECT_EQ(hdiffcol_chip[0]->GetEntries(), 0);
  EXPECT_EQ(hdiffcol_chip[3]->GetEntries(), 1);
}

TEST_F(EventProcessing, StaveSummariesFillTotalsHitTimeAndHitsPerEvent) {
  kivo_evnts = 250;
  process_text("event\n" + hit_line(2, 100, 5) + hit_line(2, 101, 5) + hit_line(2, 102, 6));
  EXPECT_EQ(hchip->GetBinContent(3), 3);
  EXPECT_EQ(hhittime_chip[2]->GetBinContent(hhittime_chip[2]->FindBin(250)), 3);
  EXPECT_EQ(hnhit_chip[2]->GetBinContent(hnhit_chip[2]->FindBin(3)), 1);
  EXPECT_EQ(hnhit_chip[2]->GetEntries(), 1);
  EXPECT_EQ(hnevnt->GetBinContent(1), 1);
}

TEST_F(EventProcessing, DifferencesAgainstReferenceStave) {
  // Stave 3: row 100, chip 0, column 5. Stave 0: row 110, chip 0, column 300.
  process_text("event\n" + hit_line(3, 5, 100) + hit_line(0, 300, 110) +
               hit_line(1, 2 * 1024 + 5, 100));
  EXPECT_EQ(hdiffrow_chip[0]->GetBinContent(hdiffrow_chip[0]->FindBin(10)), 1);
  EXPECT_EQ(hdiffcol_chip[0]->GetBinContent(hdiffcol_chip[0]->FindBin(295)), 1);
  EXPECT_EQ(hdiffrow_chip[3]->GetBinContent(hdiffrow_chip[3]->FindBin(0)), 1);
  EXPECT_EQ(hdiffcol_chip[3]->GetBinContent(hdiffcol_chip[3]->FindBin(0)), 1);
  EXPECT_EQ(hdiffcol_chip[1]->GetBinContent(1024), 1) << "2048 columns apart: overflow";
  EXPECT_EQ(hdiffrow_chip[1]->GetBinContent(hdiffrow_chip[1]->FindBin(0)), 1);
  EXPECT_EQ(hdiffrow_chip[2]->GetEntries(), 0);
}

TEST_F(EventProcessing, NoDifferenceWithoutReferenceStave) {
  process_text("event\n" + hit_line(0, 300, 110));
  EXPECT_EQ(hchip->GetBinContent(1), 1);
  EXPECT_EQ(hhittime_chip[0]->GetEntries(), 1);
  EXPECT_EQ(h2d_chip[0]->GetEntries(), 1);
  for (int s = 0; s < NSTAVE; s++) {
    EXPECT_EQ(hdiffrow_chip[s]->GetEntries(), 0);
    EXPECT_EQ(hdiffcol_chip[s]->GetEntries(), 0);
  }
}

TEST_F(EventProcessing, VerboseLinesOnlyAboveLevelTwo) {
  const std::string event = "event\n" + hit_line(0, 300, 110) + hit_line(0, 302, 111) +
                            hit_line(3, 5, 100);
  set_verbose(3);
  EXPECT_EQ(capture_stdout([&] { process_text(event); }),
            "    chip:0 npixels:2 mean:(301, 110.5)\n"
            "    chip:3 npixels:1 mean:(5, 100)\n"
            " processing event 0\n");
  set_verbose(2);
  EXPECT_EQ(capture_stdout([&] { process_text(event); }), "");
  EXPECT_EQ(kivo_verbose, 2);
}

// Counts the canvas updates that OM publishes, once the display is built.
class PublishedRefreshes {
 public:
  PublishedRefreshes() {
    OM();
    rootcompat::SetCanvasPublisher([this](const TCanvas&) { count++; });
  }
  ~PublishedRefreshes() { rootcompat::SetCanvasPublisher({}); }
  int count = 0;
};

TEST_F(EventProcessing, BeginRunRedrawsTheCanvas) {
  PublishedRefreshes refreshes;
  process_text("run 42\n");
  EXPECT_EQ(refreshes.count, 1);
  process_text("event\nevent\n");
  EXPECT_EQ(refreshes.count, 1) << "no periodic refresh by default";
}

TEST_F(EventProcessing, PeriodicRedrawAfterDataEventsZeroNAndTwoN) {
  PublishedRefreshes refreshes;
  set_refresh(2);
  process_text("event\n");
  EXPECT_EQ(refreshes.count, 1);
  process_text("event\nevent nopacket\nevent\nevent\n");
  EXPECT_EQ(refreshes.count, 3) << "after events 0, 2 and 4";
  process_text("type 12\n");
  EXPECT_EQ(refreshes.count, 3) << "other event types never redraw";
  set_refresh(1);
  process_text("event\nevent\n");
  EXPECT_EQ(refreshes.count, 5);
}

TEST_F(EventProcessing, NewIntervalTakesEffectAtItsNextMultiple) {
  PublishedRefreshes refreshes;
  set_refresh(0);
  process_text("event\nevent\n");
  set_refresh(-5);
  process_text("event\n");
  EXPECT_EQ(refreshes.count, 0) << "no periodic redraw, and no division by zero";
  kivo_evnts = 2500;
  set_refresh(1000);
  std::string events;
  for (int j = 2500; j < 3000; j++) events += "event\n";
  process_text(events);
  EXPECT_EQ(refreshes.count, 0);
  process_text("event\n");
  EXPECT_EQ(refreshes.count, 1) << "after the event counted as 3000";
}

TEST_F(EventProcessing, BeginRunKeepsTheSettings) {
  set_verbose(5);
  set_refresh(7);
  process_text("run 9\n");
  EXPECT_EQ(kivo_verbose, 5);
  EXPECT_EQ(kivo_refresh, 7);
}

// Long runs: a float count stops at 2^24 and a float sum of small per-event
// hit counts stops growing once its spacing exceeds twice the addend.
TEST_F(EventProcessing, EventCountAndHitTotalsKeepGrowingInLongRuns) {
  hnevnt->SetBinContent(1, 16777216);
  hchip->SetBinContent(1, 134217728);
  process_text("event\nhit 1 1 5 5\nhit 1 1 5 6\nhit 1 1 5 7\nhit 1 1 6 5\nhit 1 1 6 6\n");
  EXPECT_EQ(hnevnt->GetBinContent(1), 16777217);
  EXPECT_EQ(hchip->GetBinContent(1), 134217733);
}

TEST_F(EventProcessing, SecondPinitBooksNothingAndKeepsTheCounter) {
  kivo_evnts = 17;
  TH1D* booked = hchip;
  EXPECT_EQ(pinit(), 1);
  EXPECT_EQ(kivo_evnts, 17);
  EXPECT_EQ(hchip, booked);
}

TEST_F(EventProcessing, NullEventIsRefused) {
  EXPECT_EQ(capture_stdout([] { EXPECT_EQ(process_event(nullptr), -1); }),
            "process_event: no event given\n");
  EXPECT_EQ(kivo_evnts, 0);
}

}  // namespace
