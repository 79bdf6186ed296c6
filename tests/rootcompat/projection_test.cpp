// TH2::ProjectionX/ProjectionY: names, contents, errors, statistics, reuse.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "TDirectory.h"
#include "TH2F.h"
#include "TROOT.h"

namespace {

class ProjectionTest : public ::testing::Test {
 protected:
  ProjectionTest() : map("pmap", ";col;row;hits", 4, -0.5, 3.5, 3, -0.5, 2.5) {
    map.Fill(0, 0);
    map.Fill(0, 2);
    map.Fill(2, 1);
    map.Fill(2, 1);
    map.Fill(3, 7);  // y overflow
  }
  TH2F map;
};

TEST_F(ProjectionTest, DefaultNameIsMapNameWithSuffix) {
  std::unique_ptr<TH1D> px(map.ProjectionX("_px", 0, -1, ""));
  std::unique_ptr<TH1D> py(map.ProjectionY("_py", 0, -1, ""));
  EXPECT_STREQ(px->GetName(), "pmap_px");
  EXPECT_STREQ(py->GetName(), "pmap_py");
  std::unique_ptr<TH1D> named(map.ProjectionX("mine"));
  EXPECT_STREQ(named->GetName(), "mine");
  EXPECT_STREQ(px->GetXaxis()->GetTitle(), "col");
  EXPECT_STREQ(py->GetXaxis()->GetTitle(), "row");
  EXPECT_EQ(gDirectory->FindObject("pmap_px"), px.get());
}

TEST_F(ProjectionTest, AllRowsIncludeUnderflowAndOverflow) {
  std::unique_ptr<TH1D> px(map.ProjectionX("_px", 0, -1, ""));
  ASSERT_EQ(px->GetNbinsX(), 4);
  EXPECT_EQ(px->GetBinContent(1), 2);
  EXPECT_EQ(px->GetBinContent(3), 2);
  EXPECT_EQ(px->GetBinContent(4), 1) << "y overflow of column 3 is summed";
  EXPECT_EQ(px->GetEntries(), 5) << "source entries reused for the full range";
  EXPECT_DOUBLE_EQ(px->GetBinError(1), std::sqrt(2.0));
  EXPECT_EQ(px->GetSumw2N(), 0);
}

TEST_F(ProjectionTest, RestrictedRowsSumOnlyThoseRows) {
  std::unique_ptr<TH1D> px(map.ProjectionX("rows12", 2, 3, "e"));
  EXPECT_EQ(px->GetBinContent(1), 1);
  EXPECT_EQ(px->GetBinContent(3), 2);
  EXPECT_EQ(px->GetBinContent(4), 0);
  EXPECT_DOUBLE_EQ(px->GetEntries(), 3);
  EXPECT_EQ(px->GetSumw2N(), 6);
  EXPECT_DOUBLE_EQ(px->GetBinError(3), std::sqrt(2.0));
}

TEST_F(ProjectionTest, ProjectionYSumsColumns) {
  std::unique_ptr<TH1D> py(map.ProjectionY("_py", 0, -1, ""));
  ASSERT_EQ(py->GetNbinsX(), 3);
  EXPECT_EQ(py->GetBinContent(1), 1);
  EXPECT_EQ(py->GetBinContent(2), 2);
  EXPECT_EQ(py->GetBinContent(3), 1);
  EXPECT_EQ(py->GetBinContent(4), 1);
}

TEST_F(ProjectionTest, StatisticsComeFromBinsAfterSetBinContent) {
  TH2F norm("pnorm", "", 4, -0.5, 3.5, 3, -0.5, 2.5);
  norm.SetBinContent(2, 1, 0.5);
  norm.SetBinContent(4, 3, 1.5);
  std::unique_ptr<TH1D> px(norm.ProjectionX("_px", 0, -1, ""));
  EXPECT_DOUBLE_EQ(px->GetMean(1), (0.5 * 1 + 1.5 * 3) / 2.0);
  EXPECT_EQ(px->GetEntries(), 2);
}

TEST_F(ProjectionTest, UserRangeOnTheProjectedAxisNarrowsTheResult) {
  map.GetXaxis()->SetRange(2, 3);
  std::unique_ptr<TH1D> px(map.ProjectionX("ranged", 0, -1, ""));
  ASSERT_EQ(px->GetNbinsX(), 2);
  EXPECT_DOUBLE_EQ(px->GetXaxis()->GetXmin(), 0.5);
  EXPECT_EQ(px->GetBinContent(1), 0);
  EXPECT_EQ(px->GetBinContent(2), 2);
}

TEST_F(ProjectionTest, ExistingTH1DOfSameNameIsRefilled) {
  std::unique_ptr<TH1D> first(map.ProjectionX("_px", 0, -1, ""));
  map.Fill(1, 1);
  TH1D* again = map.ProjectionX("_px", 0, -1, "");
  EXPECT_EQ(again, first.get());
  EXPECT_EQ(again->GetBinContent(2), 1);
}

TEST_F(ProjectionTest, ExistingOtherHistogramOfSameNameIsAnError) {
  TH1F clash("pmap_py", "", 3, -0.5, 2.5);
  testing::internal::CaptureStderr();
  EXPECT_EQ(map.ProjectionY("_py", 0, -1, ""), nullptr);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("must be a TH1D"), std::string::npos);
}

}  // namespace
