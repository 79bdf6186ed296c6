// The monitoring canvas: what the first OM call builds, what every call
// refreshes, and what it hands to the canvas publisher.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CanvasPublisher.h"
#include "RootJSON.h"
#include "TCanvas.h"
#include "TGraphAsymmErrors.h"
#include "TH1F.h"
#include "TH2F.h"
#include "TLatex.h"
#include "TList.h"
#include "TPad.h"
#include "TStyle.h"
#include "feed.h"
#include "kivo.h"
#include "monitor_plugin.h"
#include "monitor_state.h"

namespace {

struct Drawn {
  TObject* object;
  std::string option;
};

std::vector<Drawn> primitives(TPad* pad) {
  std::vector<Drawn> drawn;
  TIter next(pad->GetListOfPrimitives());
  while (TObject* object = next()) drawn.push_back({object, next.GetOption()});
  return drawn;
}

int primitive_count(TPad* pad) { return pad->GetListOfPrimitives()->GetSize(); }

std::vector<TPad*> all_pads() {
  return {phitrate, pnhit, pmean, pdiffcol, pdiffrow, p2d[0], p2d[1], p2d[2], p2d[3]};
}

// Stave 3 (reference) hit at chip 0, column 5; stave 0 at the same column (col
// difference 0); stave 1 three columns to the left (-3).
const char* const kRunWithDifferences = R"(
run 7
event
hit 1 17 100 5
hit 1 1 100 5
hit 2 3 100 2
event
hit 1 17 100 5
hit 1 1 100 5
hit 2 3 100 2
)";

class Display : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    pinit();
    OM();
  }
  void TearDown() override { rootcompat::SetCanvasPublisher(nullptr); }
};

void expect_pad(TPad* pad, const char* name, const char* title, double xlow, double ylow,
                double xup, double yup) {
  SCOPED_TRACE(name);
  EXPECT_STREQ(pad->GetName(), name);
  EXPECT_STREQ(pad->GetTitle(), title);
  EXPECT_NEAR(pad->GetXlowNDC(), xlow, 1e-9);
  EXPECT_NEAR(pad->GetYlowNDC(), ylow, 1e-9);
  EXPECT_NEAR(pad->GetXlowNDC() + pad->GetWNDC(), xup, 1e-9);
  EXPECT_NEAR(pad->GetYlowNDC() + pad->GetHNDC(), yup, 1e-9);
  EXPECT_EQ(pad->GetTickx(), 1);
  EXPECT_EQ(pad->GetTicky(), 1);
}

void expect_margins(TPad* pad, double left, double right, double bottom, double top) {
  SCOPED_TRACE(pad->GetName());
  EXPECT_FLOAT_EQ(pad->GetLeftMargin(), left);
  EXPECT_FLOAT_EQ(pad->GetRightMargin(), right);
  EXPECT_FLOAT_EQ(pad->GetBottomMargin(), bottom);
  EXPECT_FLOAT_EQ(pad->GetTopMargin(), top);
}

void expect_at(TLatex* label, double x, double y) {
  EXPECT_DOUBLE_EQ(label->GetX(), x);
  EXPECT_DOUBLE_EQ(label->GetY(), y);
}

TEST_F(Display, CanvasHoldsTheNinePadsThenTheEventLabel) {
  ASSERT_NE(com, nullptr);
  EXPECT_STREQ(com->GetName(), "com");
  EXPECT_STREQ(com->GetTitle(), "KIVO online monitoring");
  EXPECT_EQ(com->GetWw(), 1600u);
  EXPECT_EQ(com->GetWh(), 800u);
  expect_margins(com, 0, 0, 0, 0);

  std::vector<Drawn> drawn = primitives(com);
  std::vector<TPad*> pads = all_pads();
  ASSERT_EQ(drawn.size(), pads.size() + 1);
  for (size_t i = 0; i < pads.size(); i++) {
    EXPECT_EQ(drawn[i].object, pads[i]) << "primitive " << i;
    EXPECT_EQ(drawn[i].option, "");
  }
  EXPECT_EQ(drawn.back().object, lnevents);
  EXPECT_EQ(drawn.back().option, "");
}

TEST_F(Display, PadsSitAtTheirRectanglesWithTheirMargins) {
  expect_pad(phitrate, "phitrate", "hit rate", 0, 0.45, 0.29, 0.90);
  expect_pad(pnhit, "pnhit", "n hit", 0.29, 0.60, 0.50, 0.90);
  expect_pad(pmean, "pmean", "mean", 0, 0, 0.29, 0.45);
  expect_pad(pdiffcol, "pdiffcol", "pdiffcol", 0.29, 0.30, 0.50, 0.60);
  expect_pad(pdiffrow, "pdiffrow", "pdiffrow", 0.29, 0, 0.50, 0.30);
  expect_pad(p2d[0], "p2d_0", "p2d_0", 0.50, 0.68, 1.00, 0.90);
  expect_pad(p2d[1], "p2d_1", "p2d_1", 0.50, 0.46, 1.00, 0.68);
  expect_pad(p2d[2], "p2d_2", "p2d_2", 0.50, 0.24, 1.00, 0.46);
  expect_pad(p2d[3], "p2d_3", "p2d_3", 0.50, 0.02, 1.00, 0.24);

  expect_margins(phitrate, 0.15, 0.05, 0.15, 0.05);
  expect_margins(pnhit, 0.12, 0.02, 0.15, 0.05);
  expect_margins(pmean, 0.15, 0.05, 0.15, 0.10);
  expect_margins(pdiffcol, 0.12, 0.02, 0.12, 0.10);
  expect_margins(pdiffrow, 0.12, 0.02, 0.12, 0.10);
  for (TPad* pad : p2d) expect_margins(pad, 0.15, 0.15, 0.15, 0.15);
}

TEST_F(Display, ScalesAndFixedRanges) {
  EXPECT_EQ(phitrate->GetLogy(), 1);
  EXPECT_EQ(pnhit->GetLogy(), 1);
  EXPECT_EQ(pmean->GetLogy(), 0);
  EXPECT_EQ(pdiffcol->GetLogy(), 1);
  EXPECT_EQ(pdiffrow->GetLogy(), 1);
  for (TPad* pad : p2d) EXPECT_EQ(pad->GetLogz(), 1);

  EXPECT_DOUBLE_EQ(haxis_chip->GetMinimum(), 1e-5);
  EXPECT_DOUBLE_EQ(haxis_chip->GetMaximum(), 100);
  EXPECT_DOUBLE_EQ(haxis_diff->GetMinimum(), 1e-4);
  EXPECT_DOUBLE_EQ(haxis_diff->GetMaximum(), 1);
  for (TH2F* map : h2d_chip_norm) {
    EXPECT_DOUBLE_EQ(map->GetMinimum(), 1e-6);
    EXPECT_DOUBLE_EQ(map->GetMaximum(), 1);
  }
}

TEST_F(Display, RatePadDrawsTheFrameThenTheThreeRates) {
  std::vector<Drawn> drawn = primitives(phitrate);
  ASSERT_EQ(drawn.size(), 4u);
  EXPECT_EQ(drawn[0].object, haxis_chip);
  EXPECT_EQ(drawn[0].option, "");
  EXPECT_EQ(drawn[1].object, hhitrate_chip);
  EXPECT_EQ(drawn[2].object, hwarnrate_chip);
  EXPECT_EQ(drawn[3].object, herrrate_chip);
  for (int i = 1; i < 4; i++) EXPECT_EQ(drawn[i].option, "hist e same");
}

TEST_F(Display, HitsPerEventPadDrawsACopiedFrameThenEachStaveAndItsMean) {
  std::vector<Drawn> drawn = primitives(pnhit);
  ASSERT_EQ(drawn.size(), 1u + 2 * NSTAVE);
  auto* frame = dynamic_cast<TH1F*>(drawn[0].object);
  ASSERT_NE(frame, nullptr);
  EXPECT_NE(frame, haxis_nhit);
  EXPECT_EQ(frame->GetNbinsX(), haxis_nhit->GetNbinsX());
  EXPECT_DOUBLE_EQ(frame->GetMinimum(), 1e-4);
  EXPECT_DOUBLE_EQ(frame->GetMaximum(), 1);
  EXPECT_EQ(drawn[0].option, "");
  for (int i = 0; i < NSTAVE; i++) {
    EXPECT_EQ(drawn[1 + 2 * i].object, hnhit_chip_norm[i]);
    EXPECT_EQ(drawn[1 + 2 * i].option, "hist e same");
    EXPECT_EQ(drawn[2 + 2 * i].object, lnhitmean[i]);
    EXPECT_EQ(drawn[2 + 2 * i].option, "same");
    EXPECT_EQ(lnhitmean[i]->GetTextColor(), chipColor[i]);
    EXPECT_TRUE(lnhitmean[i]->TestBit(TLatex::kTextNDC));
  }
}

TEST_F(Display, BeamPositionPadHasAStaveWideFrameUnderTheFourGraphs) {
  std::vector<Drawn> drawn = primitives(pmean);
  ASSERT_EQ(drawn.size(), 6u);
  auto* frame = dynamic_cast<TH1F*>(drawn[0].object);
  ASSERT_NE(frame, nullptr);
  EXPECT_DOUBLE_EQ(frame->GetXaxis()->GetXmin(), -0.5);
  EXPECT_DOUBLE_EQ(frame->GetXaxis()->GetXmax(), 9215.5);
  EXPECT_DOUBLE_EQ(frame->GetMinimum(), -0.5);
  EXPECT_DOUBLE_EQ(frame->GetMaximum(), 511.5);
  EXPECT_STREQ(frame->GetXaxis()->GetTitle(), "col");
  EXPECT_STREQ(frame->GetYaxis()->GetTitle(), "row");
  for (int i = 0; i < NSTAVE; i++) {
    EXPECT_EQ(drawn[1 + i].object, gmpos_chip[i]);
    EXPECT_STRCASEEQ(drawn[1 + i].option.c_str(), "P");  // TGraph::Draw lowercases it
  }
  auto* title = dynamic_cast<TLatex*>(drawn[5].object);
  ASSERT_NE(title, nullptr);
  EXPECT_STREQ(title->GetTitle(), "Beam position & profile");
  expect_at(title, 0.5, 0.96);
  EXPECT_EQ(title->GetTextAlign(), 22);
  EXPECT_TRUE(title->TestBit(TLatex::kTextNDC));
}

void expect_difference_pad(TPad* pad, TH1F* const* hists, TLatex* const* labels,
                           const char* title) {
  SCOPED_TRACE(title);
  std::vector<Drawn> drawn = primitives(pad);
  ASSERT_EQ(drawn.size(), 2u + 2 * 3);
  EXPECT_EQ(drawn[0].object, haxis_diff);
  EXPECT_EQ(drawn[0].option, "");
  for (int i = 0; i < 3; i++) {
    EXPECT_EQ(drawn[1 + 2 * i].object, hists[i]);
    EXPECT_EQ(drawn[1 + 2 * i].option, "hist same");
    EXPECT_EQ(drawn[2 + 2 * i].object, labels[i]);
    EXPECT_EQ(drawn[2 + 2 * i].option, "same");
  }
  auto* latex = dynamic_cast<TLatex*>(drawn[7].object);
  ASSERT_NE(latex, nullptr);
  EXPECT_STREQ(latex->GetTitle(), title);
  EXPECT_EQ(latex->GetTextAlign(), 22);
}

TEST_F(Display, DifferencePadsShareOneFrameAndLeaveOutTheReferenceStave) {
  expect_difference_pad(pdiffcol, hdiffcol_chip_norm, ldiffcol, "Col");
  expect_difference_pad(pdiffrow, hdiffrow_chip_norm, ldiffrow, "Row");
  EXPECT_EQ(ldiffcol[3], nullptr);
  EXPECT_EQ(ldiffrow[3], nullptr);
}

TEST_F(Display, HitMapPadsDrawTheNormalisedMapAndAColouredTitle) {
  for (int i = 0; i < NSTAVE; i++) {
    std::vector<Drawn> drawn = primitives(p2d[i]);
    ASSERT_EQ(drawn.size(), 2u);
    EXPECT_EQ(drawn[0].object, h2d_chip_norm[i]);
    EXPECT_EQ(drawn[0].option, "colz same");
    auto* title = dynamic_cast<TLatex*>(drawn[1].object);
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(std::string(title->GetTitle()), "Chip " + std::to_string(i));
    EXPECT_EQ(title->GetTextColor(), chipColor[i]);
    EXPECT_EQ(title->GetTextAlign(), 22);
    expect_at(title, 0.5, 0.96);
  }
}

TEST_F(Display, LaterCallsCreateNothing) {
  TCanvas* canvas = com;
  std::vector<int> counts{primitive_count(com)};
  for (TPad* pad : all_pads()) counts.push_back(primitive_count(pad));

  EXPECT_EQ(OM(), 0);
  feed(kRunWithDifferences);
  EXPECT_EQ(OM(), 0);

  EXPECT_EQ(com, canvas);
  std::vector<int> after{primitive_count(com)};
  for (TPad* pad : all_pads()) after.push_back(primitive_count(pad));
  EXPECT_EQ(after, counts);
}

TEST_F(Display, StatisticsBoxIsSwitchedOffOnEveryCall) {
  gStyle->SetOptStat(1111);
  OM();
  EXPECT_EQ(gStyle->GetOptStat(), 0);
}

TEST_F(Display, BeginRunShowsTheRunAndNoEventsYet) {
  feed("run 42\n");
  EXPECT_STREQ(lnevents->GetTitle(), "Run 42, Number of Events: 0");
  expect_at(lnevents, 0.5, 0.95);
  EXPECT_EQ(lnevents->GetTextAlign(), 22);
}

TEST_F(Display, EventLabelCountsEventsThatCarriedThePacket) {
  feed("run 5\nevent\nhit 1 1 10 10\nevent nopacket\nevent\n");
  OM();
  EXPECT_STREQ(lnevents->GetTitle(), "Run 5, Number of Events: 2");
}

TEST_F(Display, MeanLabelsMoveToTheirRefreshPositions) {
  for (int i = 0; i < NSTAVE; i++) {
    SCOPED_TRACE(i);
    expect_at(lnhitmean[i], 0.75, 0.88 - 0.05 * i);
  }
  expect_at(lnhitmean[1], 0.75, 0.83);
}

TEST_F(Display, MeanLabelsShowTheMeanHitsPerEvent) {
  feed("run 3\nevent\nhit 1 1 1 1\nhit 1 1 1 2\nevent\nhit 1 1 1 1\nhit 1 1 1 2\nhit 1 1 1 3\n"
       "hit 1 1 1 4\n");
  OM();
  EXPECT_STREQ(lnhitmean[0]->GetTitle(), "chip 0 = 3.00");
  EXPECT_STREQ(lnhitmean[1]->GetTitle(), "chip 1 = 0.00");
}

TEST_F(Display, PeakLabelsShowTheSignedPeakOfEachDifference) {
  feed(kRunWithDifferences);
  OM();
  EXPECT_STREQ(ldiffcol[0]->GetTitle(), "chip 0 = +0");
  EXPECT_STREQ(ldiffcol[1]->GetTitle(), "chip 1 = -3");
  EXPECT_STREQ(ldiffrow[0]->GetTitle(), "chip 0 = +0");
  EXPECT_STREQ(ldiffrow[1]->GetTitle(), "chip 1 = +0");
  for (int i = 0; i < 3; i++) {
    SCOPED_TRACE(i);
    expect_at(ldiffcol[i], 0.75, 0.83 - 0.05 * i);
    expect_at(ldiffrow[i], 0.75, 0.83 - 0.05 * i);
  }
}

TEST_F(Display, EmptyDifferenceGivesAnEmptyLabelUntilItFillsAgain) {
  feed(kRunWithDifferences);
  OM();
  EXPECT_STREQ(ldiffcol[2]->GetTitle(), "");
  EXPECT_STREQ(ldiffrow[2]->GetTitle(), "");

  // Stave 2, chip 0 is readout unit 1, channel 26.
  feed("run 8\nevent\nhit 1 17 100 5\nhit 1 26 90 12\n");
  OM();
  EXPECT_STREQ(ldiffcol[2]->GetTitle(), "chip 2 = +7");
  EXPECT_STREQ(ldiffrow[2]->GetTitle(), "chip 2 = -10");
}

TEST_F(Display, TiedPeaksShowTheLowerDifference) {
  feed("run 9\n"
       "event\nhit 1 17 100 10\nhit 2 3 100 6\n"
       "event\nhit 1 17 100 10\nhit 2 3 100 16\n");
  OM();
  EXPECT_STREQ(ldiffcol[1]->GetTitle(), "chip 1 = -4");
}

TEST_F(Display, BeginRunKeepsTheLastComputedLabels) {
  feed(kRunWithDifferences);
  OM();
  feed("run 43\n");
  EXPECT_STREQ(lnevents->GetTitle(), "Run 43, Number of Events: 0");
  EXPECT_STREQ(ldiffcol[1]->GetTitle(), "chip 1 = -3");
}

TEST_F(Display, DerivedObjectsStayTheObjectsDrawn) {
  feed(kRunWithDifferences);
  OM();
  EXPECT_EQ(primitives(phitrate)[1].object, hhitrate_chip);
  EXPECT_EQ(primitives(pdiffcol)[3].object, hdiffcol_chip_norm[1]);
  EXPECT_EQ(primitives(p2d[3])[0].object, h2d_chip_norm[3]);
  EXPECT_GT(hhitrate_chip->GetBinContent(1), 0);
}

TEST_F(Display, EveryCallPublishesOneSnapshot) {
  std::vector<std::string> published;
  rootcompat::SetCanvasPublisher(
      [&](const TCanvas& canvas) {
        EXPECT_EQ(&canvas, com);
        published.push_back(rootcompat::ToJSON(canvas));
      });
  OM();
  OM();
  feed("run 11\n");
  ASSERT_EQ(published.size(), 3u);
  EXPECT_NE(published[2].find("Run 11, Number of Events: 0"), std::string::npos);
  EXPECT_NE(published[2].find("KIVO online monitoring"), std::string::npos);
}

}  // namespace
