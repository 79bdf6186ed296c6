// The reconstruction on healthy simulated runs: the alignment it finds from
// the data alone, the efficiency and residuals of healthy staves, the
// leave-one-out rule, the matching of a late stave, noise bursts, the
// budget of events it takes, and the reset.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "TGraph.h"
#include "TH1D.h"
#include "TH1F.h"
#include "TH2F.h"
#include "tracking_test_support.h"

namespace kivo::tracking {
namespace {

using testing::efficiency;
using testing::track_run;
using testing::tracks;

// The offset of stave s to stave 3 that the simulator's shifts give.
double true_offset(int stave, double shift) { return (stave - kReferenceStave) * shift; }

void expect_aligned(const Tracker& tracker, double shift_col, double shift_row, const char* what) {
  for (int s = 0; s < kStaves; ++s) {
    const StaveAlignment& a = tracker.alignment().staves[static_cast<std::size_t>(s)];
    EXPECT_EQ(a.state, AlignmentState::aligned) << what << ", stave " << s;
    EXPECT_NEAR(a.columns, true_offset(s, shift_col), 0.5) << what << ", stave " << s;
    EXPECT_NEAR(a.rows, true_offset(s, shift_row), 0.5) << what << ", stave " << s;
  }
}

TEST(Tracker, FindsTheAlignmentFromTheDataAlone) {
  const struct {
    const char* what;
    double shift_col, shift_row, particles, sigma_col, sigma_row, noise;
    int hot;
  } runs[] = {
      {"the default beam", 40, 8, 5, 300, 60, 2, 3},
      {"staves 600 columns apart", 600, 8, 5, 300, 60, 2, 3},
      {"staves -600 columns and -30 rows apart", -600, -30, 5, 300, 60, 2, 3},
      {"a wide sparse beam", 40, 8, 0.3, 3000, 200, 2, 3},
      {"a sparse beam, staves 600 apart", 600, 8, 0.3, 300, 60, 2, 3},
      {"much noise and many hot pixels", 40, 8, 5, 300, 60, 30, 30},
  };
  for (const auto& r : runs) {
    sim::SimConfig config;
    config.stave_shift_col = r.shift_col;
    config.stave_shift_row = r.shift_row;
    config.particles = r.particles;
    config.beam_sigma_col = r.sigma_col;
    config.beam_sigma_row = r.sigma_row;
    config.noise = r.noise;
    config.hot_pixels = r.hot;
    testing::TrackedRun run = track_run(config, r.particles < 1 ? 8000 : 3000);
    expect_aligned(*run.tracker, r.shift_col, r.shift_row, r.what);
    const Objects& o = run.tracker->objects();
    for (int s = 0; s < kStaves; ++s) {
      EXPECT_GT(tracks(o, s), 100) << r.what;
      EXPECT_GT(efficiency(o, s), 0.995) << r.what << ", stave " << s;
    }
    // One line when each stave is found, none after.
    EXPECT_EQ(std::count_if(run.log.begin(), run.log.end(),
                            [](const std::string& line) { return line.find("aligned to stave 3") != std::string::npos; }),
              3)
        << r.what;
  }
}

TEST(Tracker, RealisticHealthyBeamsKeepTheirAlignmentAndEfficiency) {
  // Divergent tracks, spills, staves that miss a few particles, wide sparse
  // beams and offsets of 600 columns, with the events the budget takes.
  const struct {
    const char* what;
    double divergence, efficiency, particles, sigma_col, shift_col;
    long long spill_on, spill_off;
  } runs[] = {
      {"divergent", 2, 1, 5, 300, 40, 0, 0},
      {"very divergent, 600 apart", 6, 1, 5, 300, 600, 0, 0},
      {"in spills", 2, 1, 5, 300, 40, 300, 2000},
      {"sparse, wide, divergent, -600 apart", 3, 0.97, 0.3, 3000, -600, 0, 0},
  };
  for (const auto& r : runs) {
    sim::SimConfig config;
    config.divergence = r.divergence;
    config.efficiency = r.efficiency;
    config.particles = r.particles;
    config.beam_sigma_col = r.sigma_col;
    config.stave_shift_col = r.shift_col;
    config.spill_on = r.spill_on;
    config.spill_off = r.spill_off;
    testing::TrackedRun run = track_run(config, 30000, {}, Settings{});
    const Objects& o = run.tracker->objects();
    for (int s = 0; s < kStaves; ++s) {
      const StaveAlignment& a = run.tracker->alignment().staves[static_cast<std::size_t>(s)];
      EXPECT_EQ(a.state, AlignmentState::aligned) << r.what << ", stave " << s;
      EXPECT_NEAR(a.columns, true_offset(s, r.shift_col), 1) << r.what << ", stave " << s;
      EXPECT_NEAR(a.rows, true_offset(s, 8), 1) << r.what << ", stave " << s;
      EXPECT_GT(efficiency(o, s), r.efficiency - 0.015) << r.what << ", stave " << s;
    }
    for (const std::string& line : run.log)
      EXPECT_EQ(line.find("correlation with stave 3"), std::string::npos) << r.what << ": " << line;
  }
}

TEST(Tracker, HealthyStavesAreEfficientWithCentredNarrowResiduals) {
  testing::TrackedRun run = track_run(sim::SimConfig{}, 6000);
  const Objects& o = run.tracker->objects();
  for (int s = 0; s < kStaves; ++s) {
    EXPECT_GT(efficiency(o, s), 0.998) << s;
    EXPECT_NEAR(o.residual_col[s]->GetMean(), 0, 0.05) << s;
    EXPECT_LT(o.residual_col[s]->GetRMS(), 0.6) << s;
    EXPECT_LT(o.residual_row[s]->GetRMS(), 0.6) << s;
    // Matches at the neighbouring events are chance only.
    EXPECT_LT(o.track_lag[s]->GetBinContent(1), 0.01 * o.track_lag[s]->GetBinContent(2)) << s;
    EXPECT_LT(o.track_lag[s]->GetBinContent(3), 0.01 * o.track_lag[s]->GetBinContent(2)) << s;
    EXPECT_EQ(o.track_lag[s]->GetBinContent(2), o.track_matched[s]->Integral("")) << s;
    EXPECT_LT(o.moved_col[s]->GetEntries(), 0.001 * tracks(o, s)) << s;
  }
  // About five particles per event, each a track for every stave.
  EXPECT_NEAR(o.tracks_per_event->GetMean(1), 5, 0.5);
  // One entry per stave and event from the alignment on (a few hundred events in).
  const double counted = o.tracks_per_event->GetEntries() / kStaves;
  EXPECT_LE(counted, run.tracker->taken_events());
  EXPECT_GT(counted, run.tracker->taken_events() - 500);
}

TEST(Tracker, AStavesOwnDeadChipDoesNotLowerTheTracksThatJudgeIt) {
  const auto dead_chip = testing::move_hits(1, 2000, [](int& column, int&) { return column / kChipColumns != 4; });
  testing::TrackedRun healthy = track_run(sim::SimConfig{}, 5000);
  testing::TrackedRun faulty = track_run(sim::SimConfig{}, 5000, dead_chip);
  const Objects& h = healthy.tracker->objects();
  const Objects& f = faulty.tracker->objects();
  // Stave 1 is judged by as many tracks as without the fault, over the dead chip too.
  EXPECT_NEAR(tracks(f, 1, 4), tracks(h, 1, 4), 0.005 * tracks(h, 1, 4));
  EXPECT_NEAR(tracks(f, 1), tracks(h, 1), 0.005 * tracks(h, 1));
  // The dead chip reads as dead from the fault on (tracks begin once aligned,
  // a few hundred events in), its neighbours as healthy.
  EXPECT_GT(efficiency(f, 1, 4), 1500.0 / 5000);
  EXPECT_LT(efficiency(f, 1, 4), 2000.0 / 5000);
  EXPECT_GT(efficiency(f, 1, 3), 0.995);
  EXPECT_GT(efficiency(f, 1, 5), 0.995);
  // The other staves lose the tracks that needed the dead chip, not their efficiency.
  for (int s : {0, 2, 3}) {
    EXPECT_LT(tracks(f, s), 0.7 * tracks(h, s)) << s;
    EXPECT_GT(efficiency(f, s), 0.995) << s;
  }
}

TEST(Tracker, AStaveOneEventLateMatchesTheTracksOfTheEventBefore) {
  sim::SimConfig late;
  late.desync_stave = 1;
  testing::TrackedRun from_start = track_run(late, 4000);
  const StaveAlignment& a = from_start.tracker->alignment().staves[1];
  EXPECT_EQ(a.state, AlignmentState::aligned);
  EXPECT_EQ(a.found_lag, -1);
  EXPECT_NEAR(a.columns, -80, 0.5);
  const Objects& o = from_start.tracker->objects();
  EXPECT_GT(o.track_lag[1]->GetBinContent(1), 0.95 * tracks(o, 1));
  EXPECT_LT(o.track_lag[1]->GetBinContent(2), 0.01 * tracks(o, 1));
  EXPECT_LT(o.track_lag[1]->GetBinContent(3), 0.01 * tracks(o, 1));
  // The others' tracks need stave 1 in step: they have (nearly) none.
  for (int s : {0, 2, 3}) EXPECT_LT(tracks(o, s), 0.01 * tracks(o, 1)) << s;

  // From mid-run, in a sparse beam, with the events taken as the budget allows.
  late.particles = 0.5;
  late.faults_from = 6000;
  testing::TrackedRun mid_run = track_run(late, 12000, {}, Settings{});
  const Objects& m = mid_run.tracker->objects();
  EXPECT_LT(mid_run.tracker->taken_events(), mid_run.tracker->events());
  EXPECT_GT(m.track_lag[1]->GetBinContent(1), 0.4 * tracks(m, 1));
  EXPECT_GT(m.track_lag[1]->GetBinContent(1), 10 * m.track_lag[1]->GetBinContent(3));
  EXPECT_EQ(mid_run.tracker->alignment().staves[1].state, AlignmentState::silent);
  EXPECT_NEAR(mid_run.tracker->alignment().staves[1].columns, -80, 0.5);
}

TEST(Tracker, ANoiseBurstLeavesItsStaveOutOfTheEventAndIsCounted) {
  const auto burst = [](long long index, testing::EventPixels& event) {
    if (index % 500 != 499) return;
    for (int i = 0; i < 6000; ++i) event.pixels[2].push_back(testing::key(i % 9216, (i * 7) % 512));
  };
  testing::TrackedRun run = track_run(sim::SimConfig{}, 3000, burst);
  const Objects& o = run.tracker->objects();
  EXPECT_EQ(o.skipped->GetBinContent(3, 1), 6);
  expect_aligned(*run.tracker, 40, 8, "with noise bursts");
  for (int s = 0; s < kStaves; ++s) EXPECT_GT(efficiency(o, s), 0.995) << s;
  // A burst event gives no stave any tracks, so it enters no stave's count.
  const double counted = o.tracks_per_event->GetEntries() / kStaves;
  EXPECT_EQ(std::fmod(counted, 1.0), 0);
  EXPECT_LE(counted, run.tracker->taken_events() - 6);
}

TEST(Tracker, TakesTheEventsItsShareOfTimeAllowsInRuns) {
  sim::SimConfig late;
  late.desync_stave = 1;
  testing::TrackedRun run = track_run(late, 20000, {}, Settings{});
  const Tracker& t = *run.tracker;
  const double share = t.taken_events() / t.events();
  // The share of events follows the share of time (higher while a late
  // stave keeps the search going, which gets more of it).
  EXPECT_GT(share, 0.03);
  EXPECT_LT(share, 1.6 * Settings{}.cost_share);
  Tracker& writable = *run.tracker;
  const Objects& o = writable.objects();
  EXPECT_EQ(o.events->GetBinContent(1), 20000);
  EXPECT_EQ(o.events->GetBinContent(2), t.taken_events());
  // Lags are matched within runs of taken events.
  EXPECT_GT(o.track_lag[1]->GetBinContent(1), 0.8 * tracks(o, 1));

  // A clean sparse beam, where many events hold next to no hits: the budget
  // goes on taking events once the offsets are found.
  sim::SimConfig clean;
  clean.particles = 2;
  clean.noise = 0.1;
  clean.hot_probability = 0.05;
  const double early = track_run(clean, 4000, {}, Settings{}, true).tracker->taken_events();
  const double later = track_run(clean, 8000, {}, Settings{}, true).tracker->taken_events() - early;
  EXPECT_GT(later, 0.05 * 4000) << early << " events taken of the first 4000";

  Settings all = testing::every_event();
  testing::TrackedRun every = track_run(sim::SimConfig{}, 2000, {}, all);
  EXPECT_EQ(every.tracker->taken_events(), 2000);
}

TEST(Tracker, ResetEmptiesEverythingAndSearchesAgain) {
  testing::TrackedRun run = track_run(sim::SimConfig{}, 2000);
  Tracker& t = *run.tracker;
  t.reset();
  const Objects& o = t.objects();
  EXPECT_EQ(t.events(), 0);
  for (int s = 0; s < kStaves; ++s) {
    EXPECT_EQ(o.track_total[s]->GetEntries(), 0);
    EXPECT_EQ(o.residual_col[s]->GetEntries(), 0);
    EXPECT_EQ(o.offset_history_col[s]->GetN(), 0);
  }
  EXPECT_TRUE(t.alignment().history.empty());
  EXPECT_EQ(t.alignment().staves[0].state, AlignmentState::searching);
  EXPECT_EQ(t.alignment().staves[kReferenceStave].state, AlignmentState::aligned);
  // And finds the alignment of the next run, whatever it is.
  sim::SimConfig moved;
  moved.stave_shift_col = -300;
  moved.seed = 5;
  sim::Simulator simulator(moved);
  for (int i = 0; i < 2000; ++i) {
    const testing::EventPixels event = testing::pixels_of(simulator.data_event(static_cast<std::uint32_t>(i + 1)));
    t.process(event.view());
  }
  expect_aligned(t, -300, 8, "after a reset");
}

}  // namespace
}  // namespace kivo::tracking
