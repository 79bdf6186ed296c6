// Gaussian chi-square fits: recovered parameters, ranges, options, empty data.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "TF1.h"
#include "TH1D.h"
#include "TList.h"
#include "TROOT.h"

namespace {

void FillGauss(TH1& h, double mean, double sigma, int n, unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> dist(mean, sigma);
  for (int i = 0; i < n; ++i) h.Fill(dist(rng));
}

class GausFit : public ::testing::Test {
 protected:
  GausFit() : h("gfit", "", 1024, -0.5, 1023.5), f("gfit_f", "gaus", 0, 1024) {}
  TH1D h;
  TF1 f;
};

TEST_F(GausFit, RecoversMeanAndSigmaWithinErrors) {
  FillGauss(h, 300, 20, 200000, 1);
  f.SetParameters(1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0);
  f.SetRange(0, 1023);
  EXPECT_EQ(h.Fit(&f, "RQ0N", "", 0, 0), 0);
  EXPECT_NEAR(f.GetParameter(1), 300, 4 * f.GetParError(1));
  EXPECT_NEAR(f.GetParameter(2), 20, 4 * f.GetParError(2));
  EXPECT_GT(f.GetParError(1), 0);
  EXPECT_LT(f.GetParError(1), 0.2);
  EXPECT_NEAR(f.GetChisquare() / f.GetNDF(), 1.0, 0.5);
}

TEST_F(GausFit, RangeRestrictsTheFittedBins) {
  FillGauss(h, 300, 20, 100000, 2);
  h.Fill(700, 5000);  // far away: ignored inside the range
  f.SetRange(250, 350);
  EXPECT_EQ(h.Fit(&f, "RQ0N", "", 0, 0), 0);
  EXPECT_NEAR(f.GetParameter(1), 300, 4 * f.GetParError(1));
  EXPECT_NEAR(f.GetParameter(2), 20, 4 * f.GetParError(2));
  EXPECT_EQ(f.GetNDF(), 101 - 3);
}

TEST_F(GausFit, ExplicitRangeWithoutOptionR) {
  FillGauss(h, 500, 10, 50000, 3);
  f.SetRange(0, 10);  // not used without R
  EXPECT_EQ(h.Fit(&f, "Q0N", "", 450, 550), 0);
  EXPECT_NEAR(f.GetParameter(1), 500, 4 * f.GetParError(1));
}

TEST_F(GausFit, StartValuesComeFromTheData) {
  FillGauss(h, 600, 15, 50000, 4);
  f.SetParameters(1, 10, 1000);
  f.SetRange(0, 1023);
  EXPECT_EQ(h.Fit(&f, "RQ0N", "", 0, 0), 0);
  EXPECT_NEAR(f.GetParameter(1), 600, 1);
  EXPECT_GT(f.GetParameter(2), 0);
  double lo, hi;
  f.GetParLimits(2, lo, hi);
  EXPECT_EQ(lo, 0);
  EXPECT_GT(hi, 100);
}

TEST_F(GausFit, SigmaStaysWithinItsBoundsOnFlatData) {
  for (int bin = 1; bin <= 1024; ++bin) h.SetBinContent(bin, 5);
  f.SetRange(0, 1023);
  h.Fit(&f, "RQ0N", "", 0, 0);
  double lo, hi;
  f.GetParLimits(2, lo, hi);
  EXPECT_GE(f.GetParameter(2), 0);
  EXPECT_LE(f.GetParameter(2), hi * (1 + 1e-12));
}

TEST_F(GausFit, EmptyHistogramLeavesParametersAndWarns) {
  f.SetParameters(7, 8, 9);
  f.SetRange(0, 1023);
  testing::internal::CaptureStderr();
  EXPECT_EQ(h.Fit(&f, "RQ0N", "", 0, 0), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Warning in <Fit>: Fit data is empty \n");
  EXPECT_EQ(f.GetParameter(0), 7);
  EXPECT_EQ(f.GetParameter(1), 8);
  EXPECT_EQ(f.GetParameter(2), 9);
}

TEST_F(GausFit, EmptyRangeIsLikeAnEmptyHistogram) {
  FillGauss(h, 300, 20, 1000, 5);
  f.SetRange(900, 1000);
  testing::internal::CaptureStderr();
  EXPECT_EQ(h.Fit(&f, "RQ0N", "", 0, 0), -1);
  testing::internal::GetCapturedStderr();
}

TEST_F(GausFit, WithoutNTheFunctionIsStoredNotDrawnWithZero) {
  FillGauss(h, 300, 20, 10000, 6);
  f.SetRange(0, 1023);
  h.Fit(&f, "RQ0N", "", 0, 0);
  EXPECT_EQ(h.GetListOfFunctions()->GetSize(), 0);
  h.Fit(&f, "RQ0", "", 0, 0);
  h.Fit(&f, "RQ0", "", 0, 0);
  ASSERT_EQ(h.GetListOfFunctions()->GetSize(), 1);
  TF1* stored = h.GetFunction("gfit_f");
  ASSERT_NE(stored, nullptr);
  EXPECT_NE(stored, &f);
  EXPECT_TRUE(stored->TestBit(TF1::kNotDraw));
  EXPECT_DOUBLE_EQ(stored->GetParameter(1), f.GetParameter(1));
}

TEST_F(GausFit, FewerPointsThanParametersStillGivesFiniteParameters) {
  h.Fill(100, 3);
  h.Fill(101, 5);
  f.SetRange(0, 1023);
  const int status = h.Fit(&f, "RQ0N", "", 0, 0);
  EXPECT_NE(status, -1);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(std::isfinite(f.GetParameter(i))) << i;
  EXPECT_EQ(f.GetNDF(), -1);
}

TEST_F(GausFit, WeightedBinsUseTheirSumw2Errors) {
  std::mt19937 rng(8);
  std::normal_distribution<double> dist(400, 30);
  for (int i = 0; i < 20000; ++i) h.Fill(dist(rng), 0.5);
  f.SetRange(0, 1023);
  EXPECT_EQ(h.Fit(&f, "RQ0N", "", 0, 0), 0);
  EXPECT_NEAR(f.GetParameter(1), 400, 4 * f.GetParError(1));
  EXPECT_NEAR(f.GetChisquare() / f.GetNDF(), 1.0, 0.5) << "errors sqrt(sum w^2), not sqrt(content)";
}

TEST_F(GausFit, NotQuietPrintsTheResult) {
  FillGauss(h, 300, 20, 10000, 9);
  f.SetRange(0, 1023);
  testing::internal::CaptureStdout();
  h.Fit(&f, "R0N", "", 0, 0);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("Chi2"), std::string::npos);
  EXPECT_NE(out.find("Sigma"), std::string::npos);
}

TEST(Formula, GausParametersAndExtraValuesIgnored) {
  TF1 g("formula_g", "gaus", 0, 10);
  EXPECT_EQ(g.GetNpar(), 3);
  EXPECT_STREQ(g.GetParName(1), "Mean");
  g.SetParameters(2, 5, 1, 4, 4, 4, 4, 4, 4, 4, 4);
  EXPECT_EQ(g.GetParameter(3), 0);
  EXPECT_DOUBLE_EQ(g.Eval(5), 2);
  EXPECT_DOUBLE_EQ(g.Eval(6), 2 * std::exp(-0.5));
  EXPECT_EQ(gROOT->GetListOfFunctions()->FindObject("formula_g"), &g);
}

}  // namespace
