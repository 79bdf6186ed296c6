// What the monitor keeps beside its hit maps, on either kernel path: the
// summaries kept while events are filled, after resets and after changes
// made behind the fill path; and the normalised maps of the last analysis,
// made whole later, equal to those that analysis would have written.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "EventRecord.h"
#include "TGraphAsymmErrors.h"
#include "TH1F.h"
#include "TH2F.h"
#include "hit_maps.h"
#include "kivo.h"
#include "monitor_state.h"
#include "monitor_test_support.h"

namespace {

using monitor_test::capture_stdout;
using monitor_test::expect_same_map;
using monitor_test::expect_summary_of;
using monitor_test::hit_line;
using monitor_test::process_text;

class HitMaps : public ::testing::TestWithParam<KernelPath> {
 protected:
  void SetUp() override {
    set_kernel_path(GetParam());
    monitor_test::reset_monitor();
  }
  void TearDown() override {
    monitor_test::reset_monitor();
    set_kernel_path(KernelPath::fast);
  }
};

INSTANTIATE_TEST_SUITE_P(BothPaths, HitMaps,
                         ::testing::Values(KernelPath::fast, KernelPath::reference),
                         [](const auto& info) {
                           return info.param == KernelPath::fast ? "Fast" : "Reference";
                         });

// `events` events around a beam on every stave, with a hot pixel, a column
// beyond its chip and a row beyond the chip now and then.
std::string beam_events(int events, unsigned seed) {
  std::mt19937 random(seed);
  std::normal_distribution<double> col(4600, 200), row(250, 40);
  std::ostringstream text;
  for (int e = 0; e < events; e++) {
    text << "event\n";
    for (int s = 0; s < NSTAVE; s++) {
      for (int h = 0; h < 6; h++)
        text << hit_line(s, std::clamp<int>(std::lround(col(random)), 0, 9215),
                         std::clamp<int>(std::lround(row(random)), 0, 511));
      text << hit_line(s, 70, 33);
    }
    if (e % 5 == 0) text << "hit 1 3 600 20\nhit 2 4 7 1300\n";
  }
  return text.str();
}

void expect_summaries_of_the_maps() {
  for (int s = 0; s < NSTAVE; s++) expect_summary_of(*h2d_chip[s], raw_summary(s));
}

TEST_P(HitMaps, SummariesFollowFillsResetsAndChangesBehindTheFillPath) {
  expect_summaries_of_the_maps();
  process_text(beam_events(300, 1));
  expect_summaries_of_the_maps();
  process_text("run 5\n" + beam_events(40, 2));
  expect_summaries_of_the_maps();
  reset_histos();
  expect_summaries_of_the_maps();
  process_text(beam_events(40, 3));
  h2d_chip[1]->SetBinContent(10, 10, 3.5);
  expect_summary_of(*h2d_chip[1], raw_summary(1));
  h2d_chip[1]->Fill(4000, 20);
  expect_summary_of(*h2d_chip[1], raw_summary(1));
  process_text(beam_events(10, 4));
  expect_summary_of(*h2d_chip[1], raw_summary(1));
  h2d_chip[1]->Reset();
  expect_summary_of(*h2d_chip[1], raw_summary(1));
}

// After a refresh the fill path logs its changes and the summaries follow
// from the log when read; a change by hand, a reset or a new run in between
// must not leave them behind.
TEST_P(HitMaps, SummariesBetweenRefreshesFollowTheLogOfChanges) {
  process_text(beam_events(100, 21));
  ASSERT_EQ(OM(), 0);
  process_text(beam_events(60, 22));
  expect_summaries_of_the_maps();
  process_text(beam_events(30, 23));
  ASSERT_EQ(OM(), 0);
  process_text(beam_events(30, 24));
  h2d_chip[2]->SetBinContent(4600, 250, 0.25);
  process_text(beam_events(30, 25));
  expect_summaries_of_the_maps();
  ASSERT_EQ(OM(), 0);
  process_text(beam_events(30, 26));
  reset_histos();
  process_text(beam_events(30, 27));
  expect_summaries_of_the_maps();
  ASSERT_EQ(OM(), 0);
  process_text("run 8\n" + beam_events(30, 28));
  expect_summaries_of_the_maps();
  // Enough changes for a refresh to replay them on two threads.
  ASSERT_EQ(OM(), 0);
  kivo::eventio::EventRecord record;
  record.has_packet = true;
  for (int h = 0; h < 5000; h++) record.add_word(1 + h % 2, 1 + h % 8, (h % 512) << 16 | (h * 7 % 1024));
  const auto event = kivo::eventio::make_event(record);
  for (int e = 0; e < 30; e++) process_event(event.get());
  ASSERT_EQ(OM(), 0);
  expect_summaries_of_the_maps();
}

// The stave maps divided by the current event count, one bin at a time.
std::vector<std::unique_ptr<TH2F>> maps_per_event() {
  const double nevents = hnevnt->Integral("");
  std::vector<std::unique_ptr<TH2F>> maps;
  for (int s = 0; s < NSTAVE; s++) {
    maps.emplace_back(static_cast<TH2F*>(h2d_chip[s]->Clone(("per_event_" + std::to_string(s)).c_str())));
    maps[s]->Reset("");
    for (int x = 1; x <= 9216; x++)
      for (int y = 1; y <= 512; y++) {
        const float bc = h2d_chip[s]->GetBinContent(x, y);
        maps[s]->SetBinContent(x, y, bc / nevents);
      }
  }
  return maps;
}

void expect_norm_maps(const std::vector<std::unique_ptr<TH2F>>& expected) {
  for (int s = 0; s < NSTAVE; s++) expect_same_map(*h2d_chip_norm[s], *expected[s]);
}

TEST_P(HitMaps, NormalisedMapsAreThoseOfTheLastAnalysisWhenMadeWhole) {
  process_text(beam_events(200, 5));
  ASSERT_EQ(OM(), 0);
  const auto shown = maps_per_event();
  process_text(beam_events(150, 6));  // on the same pixels and others
  for (int s = 0; s < NSTAVE; s++) {
    std::vector<float> region(400 * 100);
    ASSERT_EQ(kivo_norm_region(s, 4401, 4800, 201, 300, region.data()), 0);
    for (int y = 201; y <= 300; y++)
      for (int x = 4401; x <= 4800; x++)
        ASSERT_EQ(region[(y - 201) * 400 + x - 4401], shown[s]->GetBinContent(x, y)) << x << "," << y;
    std::vector<float> overview(kOverviewBinsX * kOverviewBinsY);
    ASSERT_EQ(kivo_norm_overview(s, overview.data()), 0);
    EXPECT_EQ(overview, monitor_test::block_maxima_by_bins(*shown[s]));
  }
  kivo_materialise_maps();
  expect_norm_maps(shown);
  kivo_materialise_maps();
  expect_norm_maps(shown);
}

TEST_P(HitMaps, AnalysisAndStatusAsCommandsMakeTheMapsWholeAtOnce) {
  process_text(beam_events(100, 7));
  ASSERT_EQ(OM(), 0);
  process_text(beam_events(50, 8));
  ASSERT_EQ(analysis(), 0);
  expect_norm_maps(maps_per_event());
  process_text(beam_events(50, 9));
  capture_stdout([] { print_status(); });
  expect_norm_maps(maps_per_event());
}

// Far more hits between two analyses than the log of changes holds: the
// maps are made whole on the way, still those of the earlier analysis.
TEST_P(HitMaps, AnalysisFollowedByAVeryLongStretchOfEvents) {
  process_text(beam_events(100, 10));
  ASSERT_EQ(OM(), 0);
  const auto shown = maps_per_event();
  kivo::eventio::EventRecord record;
  record.has_packet = true;
  for (int h = 0; h < 5000; h++) record.add_word(1, 1 + h % 8, (h % 512) << 16 | (h * 7 % 1024));
  const auto event = kivo::eventio::make_event(record);
  for (int e = 0; e < 1000; e++) process_event(event.get());
  expect_summaries_of_the_maps();
  kivo_materialise_maps();
  expect_norm_maps(shown);
}

// Everything the monitor shows after the same events on either path; the
// fast path's results are taken as the reference path's expectation.
struct Shown {
  std::vector<std::unique_ptr<TH2F>> raw, normalised;
  std::vector<double> points;
  std::string status;
};

Shown run_and_show(KernelPath path) {
  set_kernel_path(path);
  monitor_test::reset_monitor();
  process_text("run 3\n" + beam_events(300, 12));
  OM();
  process_text(beam_events(100, 13));
  kivo_materialise_maps();
  Shown shown;
  for (int s = 0; s < NSTAVE; s++) {
    shown.normalised.emplace_back(static_cast<TH2F*>(h2d_chip_norm[s]->Clone("shown_norm")));
    shown.raw.emplace_back(static_cast<TH2F*>(h2d_chip[s]->Clone("shown_raw")));
    double x, y;
    gmpos_chip[s]->GetPoint(0, x, y);
    for (double value : {x, y, gmpos_chip[s]->GetErrorXlow(0), gmpos_chip[s]->GetErrorYlow(0)})
      shown.points.push_back(value);
  }
  shown.status = capture_stdout([] { print_status(); });
  return shown;
}

TEST(KernelPaths, BothPathsShowTheSame) {
  const Shown fast = run_and_show(KernelPath::fast);
  const Shown reference = run_and_show(KernelPath::reference);
  set_kernel_path(KernelPath::fast);
  monitor_test::reset_monitor();
  for (int s = 0; s < NSTAVE; s++) {
    expect_same_map(*reference.raw[s], *fast.raw[s]);
    expect_same_map(*reference.normalised[s], *fast.normalised[s]);
  }
  EXPECT_EQ(reference.points, fast.points);
  EXPECT_EQ(reference.status, fast.status);
}

}  // namespace
