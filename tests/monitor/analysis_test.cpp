// Derived quantities and the status summary: rates, normalised histograms and
// maps, unit-area differences, fitted beam positions, print_status text.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <sstream>
#include <vector>

#include "TAxis.h"
#include "TF1.h"
#include "TGraphAsymmErrors.h"
#include "TH1D.h"
#include "TH1F.h"
#include "TH2F.h"
#include "beam_profile.h"
#include "kivo.h"
#include "monitor_state.h"
#include "monitor_test_support.h"

namespace {

using monitor_test::capture_stdout;
using monitor_test::hit_line;
using monitor_test::process_text;

const std::string kSeparator = "==================================================\n";

class Analysis : public ::testing::Test {
 protected:
  void SetUp() override { monitor_test::reset_monitor(); }
  void TearDown() override { monitor_test::reset_monitor(); }
};

TEST_F(Analysis, RatesPerEventWithPoissonErrors) {
  hnevnt->SetBinContent(1, 10);
  hchip->SetBinContent(1, 250);
  hwarn->SetBinContent(2, 4);
  ASSERT_EQ(analysis(), 0);
  EXPECT_DOUBLE_EQ(hhitrate_chip->GetBinContent(1), 25);
  EXPECT_NEAR(hhitrate_chip->GetBinError(1), std::sqrt(250.0) / 10, 1e-6);
  EXPECT_EQ(hhitrate_chip->GetBinContent(0), 0);
  EXPECT_EQ(hhitrate_chip->GetBinContent(5), 0);
  EXPECT_EQ(hhitrate_chip->GetBinContent(2), 0);
  EXPECT_FLOAT_EQ(hwarnrate_chip->GetBinContent(2), 0.4);
  EXPECT_FLOAT_EQ(hwarnrate_chip->GetBinError(2), 0.2);
  EXPECT_EQ(herrrate_chip->Integral(""), 0);
}

TEST_F(Analysis, NoCountedEventLeavesDerivedObjectsAsTheyWere) {
  process_text("event\n" + hit_line(0, 10, 10) + hit_line(0, 11, 10));
  ASSERT_EQ(analysis(), 0);
  reset_histos();
  process_text("event nopacket\n");
  EXPECT_EQ(analysis(), 1);
  EXPECT_DOUBLE_EQ(hhitrate_chip->GetBinContent(1), 2);
  EXPECT_EQ(gmpos_chip[0]->GetN(), 1);
}

TEST_F(Analysis, HitsPerEventAndHitMapsDividedByTheEventCount) {
  process_text("event\n" + hit_line(2, 3089, 200) + hit_line(2, 3090, 200) + "event\n" +
               hit_line(2, 3089, 200) + "event\nevent\n");
  ASSERT_EQ(analysis(), 0);
  TH1F* norm = hnhit_chip_norm[2];
  EXPECT_DOUBLE_EQ(norm->GetBinContent(norm->FindBin(2)), 0.25);
  EXPECT_DOUBLE_EQ(norm->GetBinError(norm->FindBin(2)), 0.25);
  EXPECT_DOUBLE_EQ(norm->GetBinContent(norm->FindBin(1)), 0.25);
  EXPECT_DOUBLE_EQ(norm->GetMean(1), 1.5);
  TH2F* map = h2d_chip_norm[2];
  EXPECT_FLOAT_EQ(map->GetBinContent(3090, 312), 0.5);
  EXPECT_FLOAT_EQ(map->GetBinContent(3091, 312), 0.25);
  EXPECT_FLOAT_EQ(map->Integral(), 0.75);
}

TEST_F(Analysis, HitMapNormalisationMatchesPerBinDivision) {
  std::mt19937 random(7);
  std::uniform_int_distribution<int> col(0, 9215), row(0, 511);
  std::ostringstream text;
  for (int e = 0; e < 7; e++) {
    text << "event\n";
    for (int h = 0; h < 300; h++) text << hit_line(1, col(random), row(random));
  }
  text << hit_line(1, 20, 900);  // a row below the map: underflow stays out
  process_text(text.str());
  ASSERT_EQ(analysis(), 0);
  const double nevents = 7;
  TH2F reference("reference", "", 9216, -0.5, 9215.5, 512, -0.5, 511.5);
  for (int x = 0; x <= 9217; x++) {
    for (int y = 0; y <= 513; y++) {
      const bool in_range = x >= 1 && x <= 9216 && y >= 1 && y <= 512;
      const float bc = h2d_chip[1]->GetBinContent(x, y);
      if (in_range) reference.SetBinContent(x, y, bc / nevents);
      ASSERT_EQ(h2d_chip_norm[1]->GetBinContent(x, y), reference.GetBinContent(x, y))
          << x << "," << y;
    }
  }
  EXPECT_EQ(h2d_chip_norm[1]->GetEntries(), reference.GetEntries());
  double stats[TH1::kNstat] = {}, expected[TH1::kNstat] = {};
  h2d_chip_norm[1]->GetStats(stats);
  reference.GetStats(expected);
  for (int k = 0; k < 7; k++) EXPECT_EQ(stats[k], expected[k]) << "sum " << k;
}

// Contents no event stream gives, set directly: small and large whole counts,
// counts beyond any lookup table, fractions and negative values, mixed within
// every group of neighbouring cells, and on stave 3 a magnitude so small that
// a row's sum depends on the order of adding.
TEST_F(Analysis, HitMapNormalisationOfAnyContentMatchesPerBinDivision) {
  const float contents[] = {0, 1, 31, 32, 200, 4095, 4096, 70000, 2.5f, -3, 0, 0, 1e-3f};
  constexpr int kKinds = sizeof contents / sizeof contents[0];
  hnevnt->SetBinContent(1, 7);
  for (int s = 2; s <= 3; s++) {
    const int kinds = s == 3 ? kKinds : kKinds - 1;
    for (int y = 1; y <= 512; y++)
      for (int x = 1; x <= 9216; x++) {
        // Rows of only whole counts below 32, of only whole counts below 4096, of mixtures.
        const float content = y % 3 == 0   ? float(x % 29)
                              : y % 3 == 1 ? float(x * 37 % 4096)
                                           : contents[(x * 7 + y) % kinds];
        h2d_chip[s]->SetBinContent(x, y, content);
      }
  }
  ASSERT_EQ(analysis(), 0);
  for (int s = 2; s <= 3; s++) {
    for (int y = 1; y <= 512; y++)
      for (int x = 1; x <= 9216; x++) {
        const float bc = h2d_chip[s]->GetBinContent(x, y);
        ASSERT_EQ(h2d_chip_norm[s]->GetBinContent(x, y), static_cast<float>(bc / 7.0))
            << s << ":" << x << "," << y;
      }
    EXPECT_EQ(gmpos_chip[s]->GetN(), 1);
  }
}

TEST_F(Analysis, DifferencesScaledToUnitArea) {
  process_text("event\n" + hit_line(3, 5, 100) + hit_line(1, 2, 103));
  for (int i = 0; i < 6; i++) hdiffcol_chip[1]->Fill(4);
  ASSERT_EQ(analysis(), 0);
  TH1F* col = hdiffcol_chip_norm[1];
  EXPECT_FLOAT_EQ(col->Integral(""), 1);
  EXPECT_FLOAT_EQ(col->GetBinContent(col->FindBin(-3)), 1.0 / 7);
  EXPECT_FLOAT_EQ(col->GetBinContent(col->FindBin(4)), 6.0 / 7);
  TH1F* row = hdiffrow_chip_norm[1];
  EXPECT_DOUBLE_EQ(row->GetBinContent(row->FindBin(3)), 1);
  EXPECT_FLOAT_EQ(row->Integral(""), 1);
  EXPECT_EQ(hdiffrow_chip_norm[2]->Integral(""), 0) << "empty difference stays unscaled";
}

TEST_F(Analysis, RepeatedCallsGiveIdenticalResults) {
  process_text("event\n" + hit_line(0, 100, 100) + hit_line(0, 102, 101) + hit_line(0, 104, 99) +
               hit_line(0, 103, 100) + hit_line(3, 10, 10));
  ASSERT_EQ(analysis(), 0);
  double x1, y1, x2, y2;
  gmpos_chip[0]->GetPoint(0, x1, y1);
  const double ex1 = gmpos_chip[0]->GetErrorXlow(0);
  const double map1 = h2d_chip_norm[0]->GetBinContent(101, 412);
  ASSERT_EQ(analysis(), 0);
  gmpos_chip[0]->GetPoint(0, x2, y2);
  EXPECT_EQ(x1, x2);
  EXPECT_EQ(y1, y2);
  EXPECT_EQ(ex1, gmpos_chip[0]->GetErrorXlow(0));
  EXPECT_EQ(map1, h2d_chip_norm[0]->GetBinContent(101, 412));
  EXPECT_EQ(gmpos_chip[0]->GetN(), 1);
}

struct Beam {
  double col, row, col_sigma, row_sigma;  // stave-wide column, chip row
};

// One hit per stave and event, drawn around each stave's beam.
std::string beam_events(const Beam (&beams)[NSTAVE], int nevents) {
  std::mt19937 random(12345);
  std::normal_distribution<double> unit(0, 1);
  std::ostringstream text;
  for (int e = 0; e < nevents; e++) {
    text << "event\n";
    for (int s = 0; s < NSTAVE; s++) {
      const int col = std::lround(beams[s].col + beams[s].col_sigma * unit(random));
      const int row = std::lround(beams[s].row + beams[s].row_sigma * unit(random));
      text << hit_line(s, col, row);
    }
  }
  return text.str();
}

void expect_fitted_beams(const Beam (&beams)[NSTAVE]) {
  process_text(beam_events(beams, 20000));
  ASSERT_EQ(analysis(), 0);
  for (int s = 0; s < NSTAVE; s++) {
    ASSERT_EQ(gmpos_chip[s]->GetN(), 1) << "stave " << s;
    double x, y;
    gmpos_chip[s]->GetPoint(0, x, y);
    EXPECT_NEAR(x, beams[s].col, 0.75) << "stave " << s;
    EXPECT_NEAR(y, 511 - beams[s].row, 0.75) << "stave " << s;
    EXPECT_NEAR(gmpos_chip[s]->GetErrorXlow(0), beams[s].col_sigma, 0.1 * beams[s].col_sigma);
    EXPECT_EQ(gmpos_chip[s]->GetErrorXlow(0), gmpos_chip[s]->GetErrorXhigh(0));
    EXPECT_NEAR(gmpos_chip[s]->GetErrorYlow(0), beams[s].row_sigma, 0.1 * beams[s].row_sigma);
    EXPECT_EQ(gmpos_chip[s]->GetErrorYlow(0), gmpos_chip[s]->GetErrorYhigh(0));
  }
}

TEST_F(Analysis, FittedBeamPositionsAcrossTheStaves) {
  const Beam beams[NSTAVE] = {
      {700, 300, 25, 15}, {4608, 100, 40, 20}, {8900, 450, 30, 12}, {2100, 30, 20, 6}};
  expect_fitted_beams(beams);
}

TEST_F(Analysis, FittedBeamPositionsOnOtherChipsAndRows) {
  const Beam beams[NSTAVE] = {
      {9100, 470, 20, 8}, {60, 256, 12, 30}, {1024, 40, 35, 3}, {6500, 400, 50, 25}};
  expect_fitted_beams(beams);
}

// `nevents` events with eight particles per stave around each stave's beam,
// two noise hits per stave spread over it, and three hot pixels per stave
// that fire in nine events of ten.
std::string noisy_beam_events(const Beam (&beams)[NSTAVE], int nevents) {
  std::mt19937 random(7);
  std::normal_distribution<double> unit(0, 1);
  std::uniform_int_distribution<int> any_col(0, 9215), any_row(0, 511);
  std::uniform_real_distribution<double> chance(0, 1);
  const int hot[3][2] = {{4608, 100}, {4700, 400}, {9000, 10}};
  std::ostringstream text;
  for (int e = 0; e < nevents; e++) {
    text << "event\n";
    for (int s = 0; s < NSTAVE; s++) {
      for (int particle = 0; particle < 8; particle++)
        text << hit_line(s, std::clamp<int>(std::lround(beams[s].col + beams[s].col_sigma * unit(random)), 0, 9215),
                         std::clamp<int>(std::lround(beams[s].row + beams[s].row_sigma * unit(random)), 0, 511));
      for (int noise = 0; noise < 2; noise++) text << hit_line(s, any_col(random), any_row(random));
      for (const auto& [col, row] : hot)
        if (chance(random) < 0.9) text << hit_line(s, col, row);
    }
  }
  return text.str();
}

// Beams away from the middle of the stave among noise and hot pixels: the
// noise pulls the projection's mean towards the middle, and the hot pixels
// are the projection's highest bins, yet every fit finds its beam.
TEST_F(Analysis, FittedBeamPositionsAmongNoiseAndHotPixels) {
  const Beam beams[NSTAVE] = {
      {2000, 256, 100, 60}, {7000, 100, 100, 30}, {8500, 450, 150, 20}, {400, 300, 60, 40}};
  process_text(noisy_beam_events(beams, 5000));
  ASSERT_EQ(analysis(), 0);
  for (int s = 0; s < NSTAVE; s++) {
    double x, y;
    gmpos_chip[s]->GetPoint(0, x, y);
    EXPECT_NEAR(x, beams[s].col, 3) << "stave " << s;
    EXPECT_NEAR(y, 511 - beams[s].row, 3) << "stave " << s;
    // The Gaussian has no term for the noise floor, which widens it a little.
    EXPECT_NEAR(gmpos_chip[s]->GetErrorXlow(0), beams[s].col_sigma, 0.2 * beams[s].col_sigma);
    EXPECT_NEAR(gmpos_chip[s]->GetErrorYlow(0), beams[s].row_sigma, 0.2 * beams[s].row_sigma);
  }
}

// Wide beams early in a run: few hits per column, so the beam's extent must
// be judged on more than one group of columns at a time. (Their fitted
// widths are not checked: over a window this wide the noise floor, which the
// Gaussian has no term for, widens them.)
TEST_F(Analysis, WideBeamsSeenInFewEventsAreFound) {
  const Beam beams[NSTAVE] = {
      {4608, 256, 1000, 60}, {3000, 256, 700, 60}, {6000, 256, 800, 60}, {4728, 256, 1000, 60}};
  process_text(noisy_beam_events(beams, 1000));
  ASSERT_EQ(analysis(), 0);
  for (int s = 0; s < NSTAVE; s++) {
    double x, y;
    gmpos_chip[s]->GetPoint(0, x, y);
    EXPECT_NEAR(x, beams[s].col, 0.1 * beams[s].col_sigma) << "stave " << s;
  }
}

// Beams centred beyond the map: only a tail of each lies on the stave, and
// the fitted centre outside the map is clamped onto its edge (the widths of
// a tail are not well determined, but never negative).
TEST_F(Analysis, BeamsBeyondTheEdgesAreClampedOntoTheMap) {
  std::mt19937 random(99);
  std::normal_distribution<double> unit(0, 1);
  const Beam beams[] = {{-60, 200, 40, 10}, {9260, 200, 30, 10}, {4000, -20, 30, 15}};
  std::ostringstream text;
  for (int e = 0; e < 20000; e++) {
    text << "event\n";
    for (int s = 0; s < 3; s++) {
      const int col = std::lround(beams[s].col + beams[s].col_sigma * unit(random));
      const int row = std::lround(beams[s].row + beams[s].row_sigma * unit(random));
      if (col >= 0 && col <= 9215 && row >= 0) text << hit_line(s, col, row);
    }
  }
  process_text(text.str());
  ASSERT_EQ(analysis(), 0);
  double x, y;
  gmpos_chip[0]->GetPoint(0, x, y);
  EXPECT_EQ(x, 0);
  gmpos_chip[1]->GetPoint(0, x, y);
  EXPECT_EQ(x, 9215);
  gmpos_chip[2]->GetPoint(0, x, y);
  EXPECT_NEAR(x, 4000, 3);
  EXPECT_EQ(y, 511);
  for (int s = 0; s < 3; s++) {
    EXPECT_GE(gmpos_chip[s]->GetErrorXlow(0), 0) << "stave " << s;
    EXPECT_GE(gmpos_chip[s]->GetErrorYlow(0), 0) << "stave " << s;
  }
}

// A beam centred beyond the last column, on the map only by its tail: the
// first pass puts its centre beyond the stave, and the column refit runs
// around the last column, over the tail on the map. A row fit has no such
// pull and refits where the first pass ended.
TEST_F(Analysis, RefitOfABeamBeyondTheLastColumnRunsOverTheMap) {
  TH1D profile("tail_profile", "", 9216, -0.5, 9215.5);
  for (int b = 1; b <= 9216; b++) {
    const double distance = (b - 1 - 9400) / 40.0;
    profile.SetBinContent(b, 1e9 * std::exp(-0.5 * distance * distance));
  }
  double position = 0, width = 0;
  fit_beam_profile(&profile, fg, PullOntoAxis::yes, position, width);
  EXPECT_EQ(position, 9215);
  EXPECT_NEAR(width, 40, 0.5);
  EXPECT_LT(fg->GetXmin(), 9215) << "the refit window reaches onto the map";
  EXPECT_GT(fg->GetXmax(), 9215);
  fit_beam_profile(&profile, fg, PullOntoAxis::no, position, width);
  EXPECT_EQ(position, 9215);
  EXPECT_GT(fg->GetXmin(), 9215) << "a row fit is not pulled";
}

TEST_F(Analysis, SinglePixelBeamSitsOnItsPixel) {
  process_text("event\n" + hit_line(1, 5000, 200) + "event\n" + hit_line(1, 5000, 200));
  ASSERT_EQ(analysis(), 0);
  double x, y;
  gmpos_chip[1]->GetPoint(0, x, y);
  EXPECT_NEAR(x, 5000, 0.5);
  EXPECT_NEAR(y, 311, 0.5);
  EXPECT_GE(gmpos_chip[1]->GetErrorXlow(0), 0);
  EXPECT_GE(gmpos_chip[1]->GetErrorYlow(0), 0);
}

TEST_F(Analysis, StaveWithoutHitsInTheMapHasNoPoint) {
  process_text("event\n" + hit_line(0, 10, 10) + hit_line(2, 10, 10));
  ASSERT_EQ(analysis(), 0);
  ASSERT_EQ(gmpos_chip[2]->GetN(), 1);
  reset_histos();
  process_text("event\n" + hit_line(0, 10, 10) + "hit 1 26 700 3\n");
  ASSERT_EQ(analysis(), 0);
  EXPECT_EQ(gmpos_chip[0]->GetN(), 1);
  EXPECT_EQ(gmpos_chip[2]->GetN(), 0);
  EXPECT_EQ(gmpos_chip[1]->GetN(), 0);
}

TEST_F(Analysis, StatusOfAnEmptyRun) {
  const std::string printed = capture_stdout([] { EXPECT_EQ(print_status(), 0); });
  EXPECT_EQ(printed, kSeparator + kSeparator + "== Number of events: 0\n" + kSeparator + kSeparator);
}

TEST_F(Analysis, StatusTextOfEveryStaveWithHits) {
  // Event 1: staves 3, 0 and 1 in one pixel each; stave 1 is 2048 columns
  // away from stave 3, beyond the difference range. Event 2: stave 2 with a
  // row outside the chip only, so its map stays empty and it never meets
  // stave 3.
  process_text("event\n" + hit_line(3, 5, 100) + hit_line(0, 300, 110) +
               hit_line(1, 2048 + 5, 100) + "event\n" + hit_line(2, 10, 600));
  const std::string printed = capture_stdout([] { EXPECT_EQ(print_status(), 0); });
  const std::string expected = kSeparator + kSeparator + "== Number of events: 2\n" +
                               kSeparator +
                               "==== Chip 0\n"
                               "== events: 1\n"
                               "== Total hits: 1 (0.5)\n"
                               "== Total Warnings: 0 (0)\n"
                               "== Total Errors: 0 (0)\n"
                               "== <hits/event>: 1\n"
                               "== RMS(hits/event): 0\n"
                               "== <col>: 300\n"
                               "== <row>: 401\n" +
                               kSeparator +
                               "==== Chip 1\n"
                               "== events: 1\n"
                               "== Total hits: 1 (0.5)\n"
                               "== Total Warnings: 0 (0)\n"
                               "== Total Errors: 0 (0)\n"
                               "== <hits/event>: 1\n"
                               "== RMS(hits/event): 0\n"
                               "== <col>: 2053\n"
                               "== <row>: 411\n"
                               "== <dcol>: n/a (0)\n"
                               "== <drow>: 0 (0)\n" +
                               kSeparator +
                               "==== Chip 2\n"
                               "== events: 1\n"
                               "== Total hits: 1 (0.5)\n"
                               "== Total Warnings: 0 (0)\n"
                               "== Total Errors: 0 (0)\n"
                               "== <hits/event>: 1\n"
                               "== RMS(hits/event): 0\n"
                               "== <col>: n/a\n"
                               "== <row>: n/a\n"
                               "== <dcol>: n/a (0)\n"
                               "== <drow>: n/a (0)\n" +
                               kSeparator +
                               "==== Chip 3\n"
                               "== events: 1\n"
                               "== Total hits: 1 (0.5)\n"
                               "== Total Warnings: 0 (0)\n"
                               "== Total Errors: 0 (0)\n"
                               "== <hits/event>: 1\n"
                               "== RMS(hits/event): 0\n"
                               "== <col>: 5\n"
                               "== <row>: 411\n"
                               "== <dcol>: 0 (0)\n"
                               "== <drow>: 0 (0)\n" +
                               kSeparator + kSeparator;
  EXPECT_EQ(printed, expected);
}

TEST_F(Analysis, StatusShowsDifferencePeakAndMean) {
  process_text("event\n" + hit_line(3, 100, 50) + hit_line(2, 97, 52) + "event\n" +
               hit_line(3, 100, 50) + hit_line(2, 97, 52) + "event\n" + hit_line(3, 100, 50) +
               hit_line(2, 103, 49));
  const std::string printed = capture_stdout([] { print_status(); });
  EXPECT_NE(printed.find("== <dcol>: -3 (-1)\n== <drow>: 2 (1)\n"), std::string::npos) << printed;
  EXPECT_NE(printed.find("== Total hits: 3 (1)\n"), std::string::npos) << printed;
}

TEST_F(Analysis, StatusPrintsLargeCountsInShortForm) {
  hnevnt->SetBinContent(1, 2000000);
  hchip->SetBinContent(1, 1000000);
  const std::string printed = capture_stdout([] { print_status(); });
  EXPECT_NE(printed.find("== Number of events: 2e+06\n"), std::string::npos) << printed;
  EXPECT_NE(printed.find("== Total hits: 1e+06 (0.5)\n"), std::string::npos) << printed;
  EXPECT_NE(printed.find("== <col>: n/a\n"), std::string::npos) << printed;
}

}  // namespace
