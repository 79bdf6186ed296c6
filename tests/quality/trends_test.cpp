// Trends stay bounded over a run of any length without losing a point
// without trace: merged points span their events and the range of values.
#include <gtest/gtest.h>

#include <algorithm>

#include "TGraphAsymmErrors.h"
#include "Trends.h"

namespace kivo::quality {
namespace {

TEST(Trends, AFullSeriesMergesItsOlderHalf) {
  TrendSeries series("trend_test", "Test;data events;y", 1, 20, TrendSeries::Merge::Mean, 8);
  for (int i = 0; i < 8; ++i) series.add(100.0 * (i + 1), i);
  series.add(900, 100);
  ASSERT_EQ(series.size(), 7u);
  const TGraphAsymmErrors& graph = series.graph();
  ASSERT_EQ(graph.GetN(), 7);
  // Points 1+2 and 3+4 became one each; 5 to 9 stay as they were.
  EXPECT_EQ(graph.GetX()[0], 150);
  EXPECT_EQ(graph.GetErrorXlow(0), 50);
  EXPECT_EQ(graph.GetErrorXhigh(0), 50);
  EXPECT_EQ(graph.GetY()[0], 0.5);
  EXPECT_EQ(graph.GetErrorYlow(0), 0.5);
  EXPECT_EQ(graph.GetErrorYhigh(0), 0.5);
  EXPECT_EQ(graph.GetX()[1], 350);
  EXPECT_EQ(graph.GetX()[6], 900);
  EXPECT_EQ(graph.GetY()[6], 100);
  EXPECT_EQ(graph.GetErrorXlow(6), 0);
}

TEST(Trends, ALongRunKeepsEveryEventInSomePoint) {
  TrendSeries series("trend_long", "", 1, 20, TrendSeries::Merge::Mean, 64);
  for (int i = 1; i <= 100000; ++i) series.add(i, i % 7 == 0 ? 10 : 1);
  const TGraphAsymmErrors& graph = series.graph();
  ASSERT_LE(graph.GetN(), 64);
  double covered_to = 0;
  for (int p = 0; p < graph.GetN(); ++p) {
    const double first = graph.GetX()[p] - graph.GetErrorXlow(p);
    const double last = graph.GetX()[p] + graph.GetErrorXhigh(p);
    EXPECT_EQ(first, covered_to + 1) << "point " << p << " follows the one before";
    covered_to = last;
    if (last - first > 7) {
      EXPECT_EQ(graph.GetY()[p] + graph.GetErrorYhigh(p), 10) << "the largest value stays visible";
      EXPECT_EQ(graph.GetY()[p] - graph.GetErrorYlow(p), 1);
    }
  }
  EXPECT_EQ(covered_to, 100000);
}

TEST(Trends, VerdictsMergeToTheWorst) {
  TrendSeries series("trend_verdict_0", "", 1, 20, TrendSeries::Merge::Largest, 4);
  for (double verdict : {1.0, 3.0, 1.0, 1.0, 2.0}) series.add(series.size() + 1.0, verdict);
  EXPECT_EQ(series.graph().GetY()[0], 3);
}

TEST(Trends, OneGraphPerQuantityAndStave) {
  Trends trends;
  const std::vector<const TrendSeries*> all = trends.series();
  EXPECT_EQ(all.size(), 2u + 7u * kStaves);
  std::vector<std::string> names;
  for (const TrendSeries* series : all) names.push_back(series->graph().GetName());
  for (const char* name : {"trend_event_rate", "trend_verdict", "trend_hits_per_event_0", "trend_beam_column_3",
                           "trend_beam_row_width_2", "trend_hot_pixels_1", "trend_verdict_3"})
    EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
  Reading reading;
  reading.staves[2].beam = BeamFit{4600, 250, -290, 61};
  trends.add(reading, {1, 2, 3, 4}, {500, std::nullopt, Verdict::Medium, {}});
  for (const TrendSeries* series : all) {
    const std::string name = series->graph().GetName();
    const bool has_point = name != "trend_event_rate" && (name.find("beam") == std::string::npos || name.back() == '2');
    EXPECT_EQ(series->size(), has_point ? 1u : 0u) << name;
  }
  EXPECT_EQ(all[1]->graph().GetY()[0], 2) << "Medium";
}

}  // namespace
}  // namespace kivo::quality
