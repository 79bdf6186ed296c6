// ROOT's bin and statistics rules on small histograms.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>

#include "TDirectory.h"
#include "TH1F.h"
#include "TH2F.h"
#include "TList.h"

namespace {

TEST(HistogramBins, NumberingIncludesUnderflowAndOverflow) {
  TH1F h("bins", "", 10, 0, 10);
  EXPECT_EQ(h.GetNcells(), 12);
  EXPECT_EQ(h.Fill(-0.5), -1);
  EXPECT_EQ(h.Fill(0.0), 1);
  EXPECT_EQ(h.Fill(9.999), 10);
  EXPECT_EQ(h.Fill(10.0), -1);
  EXPECT_EQ(h.GetBinContent(0), 1);
  EXPECT_EQ(h.GetBinContent(11), 1);
  EXPECT_EQ(h.GetEntries(), 4);
  EXPECT_EQ(h.GetBinContent(-5), 1) << "index clamps to the underflow bin";
  EXPECT_EQ(h.GetBinContent(99), 1) << "index clamps to the overflow bin";
}

TEST(HistogramBins, TwoDimensionalGlobalBinIsXFastest) {
  TH2F h("map2", "", 3, 0, 3, 2, 0, 2);
  EXPECT_EQ(h.GetNcells(), 20);
  EXPECT_EQ(h.GetBin(2, 1), 2 + 5 * 1);
  EXPECT_EQ(h.Fill(1.5, 0.5), 7);
  EXPECT_EQ(h.GetArray()[7], 1.0f);
  EXPECT_EQ(h.GetBinContent(2, 1), 1);
  h.SetBinContent(3, 2, 4.5);
  EXPECT_EQ(h.GetArray()[3 + 5 * 2], 4.5f);
  EXPECT_EQ(h.GetBinContent(99, 99), h.GetBinContent(4, 3)) << "both indices clamp to overflow";
}

TEST(HistogramBins, NoBinsBecomeOneBinWithAWarning) {
  testing::internal::CaptureStderr();
  TH1F none("nobins", "", 0, 0, 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Warning in <TH1::TH1>: nbins is <=0 - set to nbins = 1\n");
  EXPECT_EQ(none.GetNbinsX(), 1);
  EXPECT_EQ(none.Fill(0.5), 1);
}

TEST(HistogramBins, FloatStorageRoundsAndDoubleDoesNot) {
  TH1F f("f32", "", 1, 0, 1);
  TH1D d("f64", "", 1, 0, 1);
  f.SetBinContent(1, 16777217.0);
  d.SetBinContent(1, 16777217.0);
  EXPECT_EQ(f.GetBinContent(1), 16777216.0);
  EXPECT_EQ(d.GetBinContent(1), 16777217.0);
}

TEST(HistogramBins, BinCentreUsesFixedWidthAlsoOutsideRange) {
  TH1F h("centre", "", 4, -0.5, 3.5);
  EXPECT_DOUBLE_EQ(h.GetBinCenter(1), 0.0);
  EXPECT_DOUBLE_EQ(h.GetBinCenter(4), 3.0);
  EXPECT_DOUBLE_EQ(h.GetBinCenter(0), -1.0);
  EXPECT_DOUBLE_EQ(h.GetXaxis()->GetBinCenter(5), 4.0);
}

TEST(HistogramStats, FillKeepsSumsWithoutOverflow) {
  TH1F h("stats1", "", 10, 0, 10);
  h.Fill(1.5);
  h.Fill(3.5);
  h.Fill(20);
  EXPECT_EQ(h.GetEntries(), 3);
  EXPECT_DOUBLE_EQ(h.GetMean(1), 2.5);
  EXPECT_DOUBLE_EQ(h.GetRMS(1), 1.0);
}

TEST(HistogramStats, WeightedFillCreatesSumw2) {
  TH1F h("stats2", "", 10, 0, 10);
  h.Fill(2.5);
  EXPECT_EQ(h.GetSumw2N(), 0);
  h.Fill(2.5, 3);
  EXPECT_EQ(h.GetSumw2N(), 12);
  EXPECT_DOUBLE_EQ(h.GetBinContent(3), 4);
  EXPECT_DOUBLE_EQ(h.GetBinError(3), std::sqrt(1.0 + 9.0));
  EXPECT_EQ(h.GetEntries(), 2);
}

TEST(HistogramStats, SetBinContentCountsEntriesAndRebuildsStatsFromBins) {
  TH1F h("stats3", "", 10, 0, 10);
  h.Fill(0.2);  // stored sums would give mean 0.2
  h.SetBinContent(5, 3);
  h.SetBinContent(-1, 7);  // ignored bin, still counted
  EXPECT_EQ(h.GetEntries(), 3);
  EXPECT_DOUBLE_EQ(h.GetMean(1), (1 * 0.5 + 3 * 4.5) / 4);
  EXPECT_DOUBLE_EQ(h.GetBinError(5), std::sqrt(3.0));
}

TEST(HistogramStats, StatsFromBinsWeighAbsoluteContents) {
  TH1F h("stats4", "", 4, 0, 4);
  h.SetBinContent(1, 2);
  h.SetBinContent(3, -1);
  EXPECT_DOUBLE_EQ(h.GetMean(1), (2 * 0.5 + 1 * 2.5) / 3);
}

TEST(HistogramStats, Root5RmsTakesAbsoluteVariance) {
  TH1F h("stats5", "", 4, 0, 4);
  h.Fill(1.5, 2);
  h.Fill(3.5, -1);
  EXPECT_DOUBLE_EQ(h.GetMean(1), -0.5);
  EXPECT_DOUBLE_EQ(h.GetRMS(1), std::sqrt(8.0));
}

TEST(HistogramStats, SetBinErrorCreatesSumw2FromContents) {
  TH1F h("err1", "", 3, 0, 3);
  h.Fill(0.5);
  h.Fill(0.5);
  h.SetBinError(2, 0.25);
  EXPECT_DOUBLE_EQ(h.GetBinError(1), std::sqrt(2.0));
  EXPECT_DOUBLE_EQ(h.GetBinError(2), 0.25);
  h.SetBinError(17, 1.0);
  EXPECT_EQ(h.GetSumw2N(), 5);
}

TEST(HistogramQueries, IntegralSkipsUnderflowAndOverflow) {
  TH1F h("integral", "", 5, 0, 5);
  h.Fill(-1);
  h.Fill(1, 2);
  h.Fill(4, 3);
  h.Fill(7);
  EXPECT_DOUBLE_EQ(h.Integral(""), 5);
  EXPECT_DOUBLE_EQ(h.Integral(0, 6), 7);
  TH2F m("integral2", "", 2, 0, 2, 2, 0, 2);
  m.Fill(0.5, 0.5);
  m.Fill(1.5, 1.5, 2);
  m.Fill(5, 0.5);
  m.Fill(0.5, 7);
  EXPECT_DOUBLE_EQ(m.Integral(""), 3);
  EXPECT_DOUBLE_EQ(m.Integral(1, 1), 2) << "x bin 1 over every y bin, overflow included";
  EXPECT_DOUBLE_EQ(m.Integral(1, 3), 5);
}

TEST(HistogramQueries, MaximumBinTakesTheLowestOfEqualBins) {
  TH1F h("maxbin", "", 5, 0, 5);
  EXPECT_EQ(h.GetMaximumBin(), 1) << "all-zero histogram";
  h.SetBinContent(2, 4);
  h.SetBinContent(4, 4);
  h.SetBinContent(6, 9);  // overflow is not looked at
  EXPECT_EQ(h.GetMaximumBin(), 2);
  TH2F m("maxbin2", "", 3, 0, 3, 3, 0, 3);
  EXPECT_EQ(m.GetMaximumBin(), 1 + 5);
  m.SetBinContent(3, 1, 2);
  m.SetBinContent(1, 2, 2);
  EXPECT_EQ(m.GetMaximumBin(), m.GetBin(3, 1));
}

TEST(HistogramReset, KeepsMinimumMaximumBinningAndStyle) {
  TH1F h("reset", ";x;y", 4, -0.5, 3.5);
  h.SetLineColor(632);
  h.SetLineWidth(2);
  h.SetMinimum(1e-5);
  h.SetMaximum(100);
  h.Fill(1, 2);
  h.Reset("");
  EXPECT_EQ(h.GetEntries(), 0);
  EXPECT_EQ(h.GetBinContent(2), 0);
  EXPECT_EQ(h.GetMean(1), 0);
  EXPECT_EQ(h.GetMinimumStored(), 1e-5);
  EXPECT_EQ(h.GetMaximumStored(), 100);
  EXPECT_EQ(h.GetNbinsX(), 4);
  EXPECT_EQ(h.GetLineColor(), 632);
  EXPECT_STREQ(h.GetXaxis()->GetTitle(), "x");
  EXPECT_EQ(h.GetSumw2N(), 6) << "Sumw2 stays allocated, zeroed";
  EXPECT_EQ(h.GetBinError(2), 0);
}

TEST(HistogramScale, ScalesContentsAndStatsButNotEntries) {
  TH1F h("scale", "", 4, 0, 4);
  h.SetBinContent(1, 2);
  h.SetBinContent(2, 6);
  h.SetMaximum(3);
  h.Scale(0.5, "");
  EXPECT_DOUBLE_EQ(h.GetBinContent(1), 1);
  EXPECT_DOUBLE_EQ(h.GetBinContent(2), 3);
  EXPECT_EQ(h.GetEntries(), 2);
  EXPECT_EQ(h.GetSumw2N(), 0) << "no automatic Sumw2";
  EXPECT_DOUBLE_EQ(h.GetBinError(2), std::sqrt(3.0));
  EXPECT_EQ(h.GetMaximumStored(), -1111);
  EXPECT_DOUBLE_EQ(h.GetMean(1), (1 * 0.5 + 3 * 1.5) / 4);
}

TEST(HistogramScale, ScalesErrorsWhenSumw2Exists) {
  TH1F h("scalew", "", 2, 0, 2);
  h.Fill(0.5, 2);
  h.Scale(3);
  EXPECT_DOUBLE_EQ(h.GetBinContent(1), 6);
  EXPECT_DOUBLE_EQ(h.GetBinError(1), 6);
}

TEST(HistogramClone, IsAnIndependentFullCopyInTheCurrentDirectory) {
  TH1F h("orig", ";col;hits", 4, -0.5, 3.5);
  h.SetLineColor(600);
  h.Fill(1, 3);
  std::unique_ptr<TH1F> c(static_cast<TH1F*>(h.Clone("copy")));
  EXPECT_STREQ(c->GetName(), "copy");
  EXPECT_STREQ(c->GetXaxis()->GetTitle(), "col");
  EXPECT_EQ(c->GetLineColor(), 600);
  EXPECT_EQ(c->GetBinContent(2), 3);
  EXPECT_EQ(c->GetEntries(), 1);
  EXPECT_EQ(c->GetSumw2N(), 6);
  EXPECT_EQ(gDirectory->FindObject("copy"), c.get());
  c->Fill(1);
  EXPECT_EQ(h.GetBinContent(2), 3);
  EXPECT_EQ(c->GetXaxis()->GetParent(), c.get());
}

// A clone of a large, mostly empty map writes only its non-zero blocks into
// fresh storage; every content comes across, a negative zero and the last
// cell included, and copying into a map of the same size overwrites it.
TEST(HistogramClone, MostlyEmptyMapsKeepEveryContent) {
  TH2F map("sparse", "", 1000, 0, 1000, 300, 0, 300);
  map.SetBinContent(1, 1, 2);
  map.SetBinContent(500, 150, -0.0);
  map.SetBinContent(777, 299, 0.125);
  map.GetArray()[map.GetSize() - 1] = 9;
  std::unique_ptr<TH2F> copy(static_cast<TH2F*>(map.Clone("sparse_copy")));
  ASSERT_EQ(copy->GetSize(), map.GetSize());
  for (int i = 0; i < map.GetSize(); i++)
    ASSERT_EQ(std::memcmp(&copy->GetArray()[i], &map.GetArray()[i], sizeof(float)), 0) << i;
  TH2F other("sparse_other", "", 1000, 0, 1000, 300, 0, 300);
  other.SetBinContent(2, 2, 5);
  map.Copy(other);
  EXPECT_EQ(other.GetBinContent(2, 2), 0);
  EXPECT_EQ(other.GetBinContent(777, 299), 0.125);
}

TEST(HistogramDirectory, ConstructionRegistersAndDeletionUnregisters) {
  auto* h = new TH1F("dir_member", "", 2, 0, 2);
  EXPECT_EQ(gDirectory->FindObject("dir_member"), h);
  EXPECT_EQ(h->GetDirectory(), gDirectory);
  delete h;
  EXPECT_EQ(gDirectory->FindObject("dir_member"), nullptr);
  TH1F detached("dir_detached", "", 2, 0, 2);
  detached.SetDirectory(nullptr);
  EXPECT_EQ(gDirectory->FindObject("dir_detached"), nullptr);
}

TEST(HistogramAxis, SetRangeUserOnValueAxisSetsMinimumAndMaximum) {
  TH1F h("range1", "", 10, 0, 10);
  h.GetYaxis()->SetRangeUser(1e-4, 1);
  EXPECT_EQ(h.GetMinimumStored(), 1e-4);
  EXPECT_EQ(h.GetMaximumStored(), 1);
  EXPECT_FALSE(h.GetYaxis()->TestBit(TAxis::kAxisRange));
  TH2F m("range2", "", 2, 0, 2, 2, 0, 2);
  m.GetZaxis()->SetRangeUser(1e-6, 1);
  EXPECT_EQ(m.GetMinimumStored(), 1e-6);
  EXPECT_EQ(m.GetMaximumStored(), 1);
}

TEST(HistogramAxis, SetRangeUserOnXAxisLimitsIntegralAndStats) {
  TH1F h("range3", "", 10, 0, 10);
  h.Fill(1.5);
  h.Fill(5.5);
  h.GetXaxis()->SetRangeUser(4, 8);
  EXPECT_EQ(h.GetXaxis()->GetFirst(), 5);
  EXPECT_EQ(h.GetXaxis()->GetLast(), 9);
  EXPECT_DOUBLE_EQ(h.Integral(""), 1);
  EXPECT_DOUBLE_EQ(h.GetMean(1), 5.5);
}

TEST(HistogramTitle, SemicolonsSplitIntoAxisTitles) {
  TH2F m("titles", "map;col;row;hits", 1, 0, 1, 1, 0, 1);
  EXPECT_STREQ(m.GetTitle(), "map");
  EXPECT_STREQ(m.GetXaxis()->GetTitle(), "col");
  EXPECT_STREQ(m.GetYaxis()->GetTitle(), "row");
  EXPECT_STREQ(m.GetZaxis()->GetTitle(), "hits");
  TH1F h("titles1", ";chip index; warnings", 1, 0, 1);
  EXPECT_STREQ(h.GetTitle(), "");
  EXPECT_STREQ(h.GetYaxis()->GetTitle(), " warnings");
}

TEST(HistogramFill2D, OutOfRangeSkipsSumsButCountsEntries) {
  TH2F m("fill2", "", 4, 0, 4, 4, 0, 4);
  m.Fill(1.5, 2.5);
  m.Fill(1.5, 9);
  Double_t s[TH1::kNstat] = {};
  m.GetStats(s);
  EXPECT_EQ(m.GetEntries(), 2);
  EXPECT_DOUBLE_EQ(s[0], 1);
  EXPECT_DOUBLE_EQ(s[4], 2.5);
  EXPECT_DOUBLE_EQ(m.GetMean(2), 2.5);
}

}  // namespace
