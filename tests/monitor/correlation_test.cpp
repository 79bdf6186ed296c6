// The stave correlations: each lag distribution against its definition on
// random events (masked pixels left out, batches crossed), the pads'
// difference histograms untouched by masks, resets, and refused arguments.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <vector>

#include "TAxis.h"
#include "TH1F.h"
#include "kivo.h"
#include "monitor_plugin.h"
#include "monitor_state.h"
#include "monitor_test_support.h"

namespace {

using monitor_test::hit_line;
using monitor_test::process_text;

constexpr int kCells = kCorrelationBins + 2;
constexpr int kPairs[][2] = {{0, 3}, {1, 3}, {2, 3}, {0, 2}, {1, 2}, {3, 2}};

struct Hit {
  int col, row;  // stave-wide column, chip row
};
using Event = std::array<std::vector<Hit>, NSTAVE>;
// Masked pixels by stave: (stave-wide column, displayed row).
using Masks = std::array<std::set<std::pair<int, int>>, NSTAVE>;

std::vector<double> lag_differences(int stave, int reference, int axis, int lag) {
  std::vector<std::uint32_t> counts(kCells, 7);
  EXPECT_EQ(kivo_lag_differences(stave, reference, axis, lag, counts.data()), 0);
  return std::vector<double>(counts.begin(), counts.end());
}

std::vector<double> contents(const TH1F& histogram) {
  std::vector<double> bins;
  for (int b = 0; b < kCells; b++) bins.push_back(histogram.GetBinContent(b));
  return bins;
}

void set_mask(int stave, const std::set<std::pair<int, int>>& pixels) {
  std::vector<int> xbins, ybins;
  for (const auto& [col, displayed_row] : pixels) {
    xbins.push_back(col + 1);
    ybins.push_back(displayed_row + 1);
  }
  ASSERT_EQ(kivo_set_correlation_mask(stave, xbins.data(), ybins.data(), static_cast<int>(xbins.size())), 0);
}

// Column (axis 0) or row (axis 1) mean of a stave's unmasked hits, by definition.
std::optional<double> mean(const std::vector<Hit>& hits, const std::set<std::pair<int, int>>& mask, int axis) {
  double sum = 0;
  int kept = 0;
  for (const Hit& hit : hits) {
    if (mask.count({hit.col, 511 - hit.row})) continue;
    sum += axis == 0 ? hit.col : hit.row;
    kept++;
  }
  if (kept == 0) return std::nullopt;
  return sum / kept;
}

// The distribution of mean_s(event i) - mean_r(event i + lag), binned by the axis of the pads.
std::vector<double> by_definition(const std::vector<Event>& events, const Masks& masks, int stave, int reference,
                                  int axis, int lag) {
  const TAxis binning(kCorrelationBins, -511.5, 511.5);
  std::vector<double> bins(kCells, 0);
  for (int i = 0; i < static_cast<int>(events.size()); i++) {
    if (i + lag < 0 || i + lag >= static_cast<int>(events.size())) continue;
    const std::optional<double> a = mean(events[i][stave], masks[stave], axis);
    const std::optional<double> b = mean(events[i + lag][reference], masks[reference], axis);
    if (a && b) bins[binning.FindFixBin(*a - *b)] += 1;
  }
  return bins;
}

std::string text_of(const Event& event) {
  std::string text = "event\n";
  for (int s = 0; s < NSTAVE; s++)
    for (const Hit& hit : event[s]) text += hit_line(s, hit.col, hit.row);
  return text;
}

// Random events around a beam, staves empty now and then, mean differences
// now and then beyond the range, pixels that come back (the masked ones).
std::vector<Event> random_events(int count, const Masks& masks) {
  std::mt19937 random(11);
  std::normal_distribution<double> beam_col(4608, 300), beam_row(256, 60), spread(0, 3);
  std::uniform_int_distribution<int> hits(0, 4), any_col(0, 9215), any_row(0, 511), pick(0, 9);
  std::vector<Event> events(count);
  for (Event& event : events) {
    const double col = beam_col(random), row = beam_row(random);
    for (int s = 0; s < NSTAVE; s++) {
      for (int n = hits(random); n > 0; n--)
        event[s].push_back({std::clamp(static_cast<int>(col + 40 * s + spread(random)), 0, 9215),
                            std::clamp(static_cast<int>(row + spread(random)), 0, 511)});
      if (pick(random) == 0) event[s].push_back({any_col(random), any_row(random)});
      if (pick(random) < 3 && !masks[s].empty())
        event[s].push_back({masks[s].begin()->first, 511 - masks[s].begin()->second});
    }
  }
  return events;
}

class Correlation : public ::testing::Test {
 protected:
  void SetUp() override { monitor_test::reset_monitor(); }
  void TearDown() override { monitor_test::reset_monitor(); }
};

TEST_F(Correlation, EveryDistributionIsItsDefinitionAcrossBatchesWithMaskedPixelsLeftOut) {
  Masks masks;
  masks[0] = {{4650, 200}, {4651, 200}};
  masks[3] = {{4700, 300}};
  masks[2] = {{100, 5}};
  for (int s = 0; s < NSTAVE; s++) set_mask(s, masks[s]);
  const std::vector<Event> events = random_events(1300, masks);
  std::string text;
  for (const Event& event : events) text += text_of(event);
  process_text(text);
  for (const auto& [stave, reference] : kPairs)
    for (int axis = 0; axis < 2; axis++)
      for (int lag = -kMaxCorrelationLag; lag <= kMaxCorrelationLag; lag++) {
        SCOPED_TRACE(testing::Message() << "stave " << stave << " against " << reference << ", axis " << axis
                                        << ", lag " << lag);
        EXPECT_EQ(lag_differences(stave, reference, axis, lag),
                  by_definition(events, masks, stave, reference, axis, lag));
      }
}

TEST_F(Correlation, WithoutAMaskTheSameEventIsThePadsDistributionAndAMaskLeavesThePadsAlone) {
  const std::vector<Event> events = random_events(700, Masks{});
  std::string text;
  for (const Event& event : events) text += text_of(event);
  process_text(text);
  for (int s = 0; s < 3; s++) {
    EXPECT_EQ(lag_differences(s, 3, 0, 0), contents(*hdiffcol_chip[s])) << "stave " << s;
    EXPECT_EQ(lag_differences(s, 3, 1, 0), contents(*hdiffrow_chip[s])) << "stave " << s;
  }

  monitor_test::reset_monitor();
  Masks masks;
  masks[1] = {{4650, 250}};
  set_mask(1, masks[1]);
  process_text(text_of({{{}, {{4650, 261}, {4000, 10}}, {}, {{4500, 20}}}}));
  EXPECT_EQ(hdiffcol_chip[1]->GetBinContent(hdiffcol_chip[1]->FindBin((4650 + 4000) / 2.0 - 4500)), 1)
      << "the pads keep every hit";
  EXPECT_EQ(lag_differences(1, 3, 0, 0)[hdiffcol_chip[1]->FindBin(4000 - 4500)], 1) << "the masked hit left out";
}

TEST_F(Correlation, AStaveWithOnlyMaskedHitsEntersNoPair) {
  set_mask(0, {{100, 511 - 7}});
  process_text(text_of({{{{100, 7}, {100, 7}}, {}, {}, {{90, 7}}}}));
  std::vector<double> empty(kCells, 0);
  EXPECT_EQ(lag_differences(0, 3, 0, 0), empty);
  EXPECT_EQ(hdiffcol_chip[0]->GetEntries(), 1);
}

TEST_F(Correlation, EventsWithoutThePacketAreNoEventsOfTheLagsAndARunStartsAfresh) {
  // Stave 0 at columns 10, 20; stave 3 at 0, 0. Lag -1 pairs stave 0's
  // second event with stave 3's first, across the event without the packet.
  process_text(text_of({{{{10, 1}}, {}, {}, {{0, 1}}}}) + "event nopacket\n" +
               text_of({{{{20, 1}}, {}, {}, {{0, 1}}}}));
  std::vector<double> expected(kCells, 0);
  expected[hdiffcol_chip[0]->FindBin(20)] = 1;
  EXPECT_EQ(lag_differences(0, 3, 0, -1), expected);
  EXPECT_EQ(lag_differences(0, 3, 0, -2), std::vector<double>(kCells, 0));

  process_text("run 2\n" + text_of({{{{30, 1}}, {}, {}, {{0, 1}}}}));
  EXPECT_EQ(lag_differences(0, 3, 0, -1), std::vector<double>(kCells, 0)) << "no pair reaches into the last run";
  expected.assign(kCells, 0);
  expected[hdiffcol_chip[0]->FindBin(30)] = 1;
  EXPECT_EQ(lag_differences(0, 3, 0, 0), expected);
}

TEST_F(Correlation, BadArgumentsAreRefusedAndChangeNothing) {
  std::uint32_t out[kCells];
  EXPECT_EQ(kivo_lag_differences(3, 3, 0, 0, out), -1);
  EXPECT_EQ(kivo_lag_differences(2, 2, 0, 0, out), -1);
  EXPECT_EQ(kivo_lag_differences(0, 1, 0, 0, out), -1);
  EXPECT_EQ(kivo_lag_differences(0, 3, 2, 0, out), -1);
  EXPECT_EQ(kivo_lag_differences(0, 3, 0, 3, out), -1);
  EXPECT_EQ(kivo_lag_differences(0, 3, 0, -3, out), -1);
  EXPECT_EQ(kivo_lag_differences(0, 3, 0, 0, nullptr), -1);

  set_mask(0, {{100, 504}});
  const int xbins[] = {101, 9217}, ybins[] = {505, 1};
  EXPECT_EQ(kivo_set_correlation_mask(0, xbins, ybins, 2), -1) << "column beyond the map";
  EXPECT_EQ(kivo_set_correlation_mask(4, xbins, ybins, 1), -1);
  EXPECT_EQ(kivo_set_correlation_mask(0, xbins, ybins, -1), -1);
  EXPECT_EQ(kivo_set_correlation_mask(0, nullptr, nullptr, 1), -1);
  process_text(text_of({{{{100, 7}, {110, 7}}, {}, {}, {{0, 7}}}}));
  std::vector<double> expected(kCells, 0);
  expected[hdiffcol_chip[0]->FindBin(110)] = 1;
  EXPECT_EQ(lag_differences(0, 3, 0, 0), expected) << "the mask stayed as it was";
}

}  // namespace
