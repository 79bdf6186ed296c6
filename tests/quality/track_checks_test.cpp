// The checks on tracks on constructed readings: each limit from both sides,
// the minimum of tracks, the expectation they compare with, and what they
// say when the tracks cannot judge a stave.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <tuple>

#include "Checks.h"
#include "TrackLeverage.h"
#include "Quality.h"

namespace kivo::quality {
namespace {

constexpr int kBeamChip = 4;

// The share of a stave's tracks on each chip: a beam centred on chip 4.
constexpr double kChipShare[kChips] = {0, 0, 0.03, 0.12, 0.70, 0.12, 0.03, 0, 0};

CellRegion cells_of(int chip) { return {chip * kChipCellsX, (chip + 1) * kChipCellsX - 1, 3, 4}; }

// One stretch of a run's tracks: per stave, chip by chip, then edited.
struct Step {
  double events = 1000;
  double tracks_per_event = 4;
  std::array<std::array<double, kChips>, kStaves> efficiency;
  std::array<double, kStaves> track_scale{1, 1, 1, 1};
  std::array<std::array<double, kTrackLags>, kStaves> lag_share{};  // matches at -1, 0, +1 per track; 0 at 0: the efficiency
  std::array<double, kStaves> residual_mean{}, residual_width{0.6, 0.6, 0.6, 0.6};
  std::function<void(int stave, StaveTracks& tracks)> edit;

  Step() {
    for (auto& stave : efficiency) stave.fill(0.999);
    for (auto& lags : lag_share) lags = {0.005, 0, 0.005};
  }
};

// A run of readings, each adding a step to the counts since the reset.
class TrackRun {
 public:
  TrackRun() {
    reading_.run = 1;
    reading_.tracks.present = true;
    for (StaveTracks& stave : reading_.tracks.staves) {
      stave.total.assign(kTrackCells, 0.0);
      stave.matched.assign(kTrackCells, 0.0);
      stave.alignment.state = tracking::AlignmentState::aligned;
    }
  }

  const Reading& add(const Step& step) {
    reading_.events += step.events;
    reading_.data_events += step.events;
    reading_.tracks.events += step.events;
    for (int s = 0; s < kStaves; ++s) {
      StaveTracks piece;
      piece.total.assign(kTrackCells, 0.0);
      piece.matched.assign(kTrackCells, 0.0);
      const std::size_t si = static_cast<std::size_t>(s);
      const double tracks = step.events * step.tracks_per_event * step.track_scale[si];
      double matched_all = 0;
      for (int chip = 0; chip < kChips; ++chip) {
        const CellRegion r = cells_of(chip);
        const double cells = (r.x1 - r.x0 + 1) * (r.y1 - r.y0 + 1);
        for (int y = r.y0; y <= r.y1; ++y)
          for (int x = r.x0; x <= r.x1; ++x) {
            const std::size_t cell = static_cast<std::size_t>(x + kTrackCellsX * y);
            piece.total[cell] = tracks * kChipShare[chip] / cells;
            piece.matched[cell] = piece.total[cell] * step.efficiency[si][static_cast<std::size_t>(chip)];
          }
      }
      if (step.edit) step.edit(s, piece);
      for (std::size_t c = 0; c < piece.total.size(); ++c) matched_all += piece.matched[c];
      piece.lags = {tracks * step.lag_share[si][0], matched_all, tracks * step.lag_share[si][2]};
      if (step.lag_share[si][1] > 0) piece.lags[1] = tracks * step.lag_share[si][1];
      const double mean = step.residual_mean[si], width = step.residual_width[si];
      piece.columns = {matched_all, mean * matched_all, (width * width + mean * mean) * matched_all};
      piece.rows = piece.columns;
      add_into(reading_.tracks.staves[si], piece);
    }
    return reading_;
  }

  StaveTracks& stave(int s) { return reading_.tracks.staves[static_cast<std::size_t>(s)]; }

 private:
  static void add_into(StaveTracks& sum, const StaveTracks& piece) {
    for (std::size_t c = 0; c < sum.total.size(); ++c) {
      sum.total[c] += piece.total[c];
      sum.matched[c] += piece.matched[c];
    }
    for (std::size_t l = 0; l < sum.lags.size(); ++l) sum.lags[l] += piece.lags[l];
    for (auto [to, from] : {std::pair{&sum.columns, &piece.columns}, std::pair{&sum.rows, &piece.rows}}) {
      to->entries += from->entries;
      to->sum += from->sum;
      to->sum2 += from->sum2;
    }
    for (std::size_t chip = 0; chip < sum.moved.size(); ++chip) {
      MovedPairs& a = sum.moved[chip];
      const MovedPairs& b = piece.moved[chip];
      for (std::size_t d = 0; d < a.same_place.size(); ++d) {
        a.same_place[d] += b.same_place[d];
        a.other_place[d] += b.other_place[d];
      }
      a.mirrored += b.mirrored;
      a.not_mirrored += b.not_mirrored;
      for (std::size_t k = 0; k < a.bit_moved.size(); ++k) {
        a.bit_moved[k] += b.bit_moved[k];
        a.bit_side[k] += b.bit_side[k];
      }
    }
  }

  Reading reading_;
};

struct Judge {
  Config config = default_config();
  History history{longest_window(config)};
  RunMemory memory;

  std::vector<Result> operator()(std::vector<Result> (*check)(const Context&), const Reading& reading) {
    history.add(reading);
    const Context context{config, reading, history, nullptr, memory};
    return check(context);
  }
  // The efficiency and residuals checks on one reading, in the order kivo runs them.
  std::pair<std::vector<Result>, std::vector<Result>> both(const Reading& reading) {
    history.add(reading);
    const Context context{config, reading, history, nullptr, memory};
    std::vector<Result> efficiency = judge_efficiency(context);
    return {std::move(efficiency), judge_residuals(context)};
  }
};

const Result& find(const std::vector<Result>& results, int stave, int chip = kNone) {
  for (const Result& result : results)
    if (result.stave == stave && result.chip == chip) return result;
  throw std::logic_error("no such result");
}

// `refreshes` steps, the checks judging after each; the last results.
std::vector<Result> run_steps(Judge& judge, TrackRun& run, std::vector<Result> (*check)(const Context&),
                              const Step& step, int refreshes) {
  std::vector<Result> results;
  for (int i = 0; i < refreshes; ++i) results = judge(check, run.add(step));
  return results;
}

Verdict worst_of(const std::vector<Result>& results, int stave) {
  Verdict verdict = Verdict::Null;
  for (const Result& result : results)
    if (result.stave == stave) verdict = worst(verdict, result.verdict);
  return verdict;
}

TEST(TrackChecks, NoResultsWithoutTracking) {
  Judge judge;
  Reading reading;
  reading.run = 1;
  reading.events = 5000;
  EXPECT_TRUE(judge(judge_efficiency, reading).empty());
  EXPECT_TRUE(judge(judge_residuals, reading).empty());
  EXPECT_TRUE(judge(judge_track_synchronisation, reading).empty());
}

TEST(Efficiency, AHealthyRunIsGoodAndSaysItsNumbers) {
  Judge judge;
  TrackRun run;
  const std::vector<Result> results = run_steps(judge, run, judge_efficiency, Step{}, 8);
  for (int s = 0; s < kStaves; ++s) {
    EXPECT_EQ(find(results, s, kBeamChip).verdict, Verdict::Good) << find(results, s, kBeamChip).reason;
    EXPECT_EQ(find(results, s, 0).verdict, Verdict::Null) << "no tracks on chip 0";
  }
  EXPECT_EQ(find(results, 2, 4).reason,
            "stave 2, chip 4: efficiency 99.9% (8,392 of 8,400 tracks) in the last 3,000 events, 99.9% earlier");
  EXPECT_EQ(find(results, 2, 0).reason, "stave 2, chip 0: 0 tracks in the last 3,000 events, 30 needed");
}

// A chip's efficiency against 97% and 90% of its earlier level, from both
// sides of each limit.
TEST(Efficiency, LimitsOfTheExpectedEfficiency) {
  for (const auto& [efficiency, expected] : std::vector<std::pair<double, Verdict>>{
           {0.98, Verdict::Good}, {0.96, Verdict::Medium}, {0.91, Verdict::Medium}, {0.85, Verdict::Bad}}) {
    SCOPED_TRACE(efficiency);
    Judge judge;
    TrackRun run;
    run_steps(judge, run, judge_efficiency, Step{}, 6);
    Step faulty;
    faulty.efficiency[2][4] = efficiency;
    const std::vector<Result> results = run_steps(judge, run, judge_efficiency, faulty, 2);
    EXPECT_EQ(find(results, 2, 4).verdict, expected) << find(results, 2, 4).reason;
    for (int chip : {3, 5}) EXPECT_EQ(find(results, 2, chip).verdict, Verdict::Good);
    for (int s : {0, 1, 3}) EXPECT_EQ(find(results, s, 4).verdict, Verdict::Good);
  }
}

TEST(Efficiency, TheReasonNamesTheChipItsTracksAndTheLevelEarlier) {
  Judge judge;
  TrackRun run;
  run_steps(judge, run, judge_efficiency, Step{}, 6);
  Step faulty;
  faulty.efficiency[2][4] = 0.6;
  const std::vector<Result> results = run_steps(judge, run, judge_efficiency, faulty, 1);
  EXPECT_EQ(find(results, 2, 4).verdict, Verdict::Bad);
  EXPECT_EQ(find(results, 2, 4).reason,
            "stave 2, chip 4: efficiency 60.0% (1,680 of 2,800 tracks) in the last 1,000 events, 99.9% earlier");
}

// Few tracks never make a verdict: below the minimum the chip is not judged,
// and above it a loss must be improbable at the limit.
TEST(Efficiency, FewTracksAreNotEnough) {
  Judge judge;
  TrackRun run;
  Step sparse;
  sparse.tracks_per_event = 0.04;  // 12 tracks per 1000 events on chip 3
  run_steps(judge, run, judge_efficiency, sparse, 6);
  sparse.efficiency[1][3] = 0.5;
  std::vector<Result> results = run_steps(judge, run, judge_efficiency, sparse, 2);
  EXPECT_EQ(find(results, 1, 3).verdict, Verdict::Null) << find(results, 1, 3).reason;
  EXPECT_NE(find(results, 1, 3).reason.find("tracks in the last 3,000 events, 30 needed"), std::string::npos)
      << find(results, 1, 3).reason;
  // 168 tracks in the window at 92%: 13 missing where 5 would be at the limit.
  Judge again;
  TrackRun other;
  Step few;
  few.tracks_per_event = 0.4;
  run_steps(again, other, judge_efficiency, few, 6);
  few.efficiency[1][3] = 0.92;
  results = run_steps(again, other, judge_efficiency, few, 3);
  EXPECT_EQ(find(results, 1, 3).verdict, Verdict::Good) << find(results, 1, 3).reason;
  few.efficiency[1][3] = 0.75;
  results = run_steps(again, other, judge_efficiency, few, 1);
  EXPECT_GE(find(results, 1, 3).verdict, Verdict::Medium) << find(results, 1, 3).reason;
}

TEST(Efficiency, AHalfChipLostIsNamedWithinTheChip) {
  Judge judge;
  TrackRun run;
  run_steps(judge, run, judge_efficiency, Step{}, 6);
  Step half;
  half.edit = [](int stave, StaveTracks& tracks) {
    if (stave != 0) return;
    for (int y = 0; y < kTrackCellsY; ++y)
      for (int x = kBeamChip * kChipCellsX + kChipCellsX / 2; x < (kBeamChip + 1) * kChipCellsX; ++x)
        tracks.matched[static_cast<std::size_t>(x + kTrackCellsX * y)] = 0;
  };
  const std::vector<Result> results = run_steps(judge, run, judge_efficiency, half, 1);
  const Result& chip = find(results, 0, kBeamChip);
  EXPECT_EQ(chip.verdict, Verdict::Bad);
  EXPECT_NE(chip.reason.find("stave 0, chip 4: efficiency 49.9% (1,399 of 2,800 tracks)"), std::string::npos)
      << chip.reason;
  EXPECT_NE(chip.reason.find("; most of the loss in columns 512 to 1023: efficiency 0.0%"), std::string::npos)
      << chip.reason;
}

// A block of 256 x 256 pixels that holds a small share of the chip's tracks:
// the chip as a whole stays within its limits, the block does not.
TEST(Efficiency, ABlockLostAloneIsNamedByItsColumnsAndRows) {
  Judge judge;
  TrackRun run;
  const auto block = [](double share) {
    return [share](int stave, StaveTracks& tracks) {
      if (stave != 3) return;
      for (int y = 0; y < 3; ++y)
        for (int x = 64; x < 68; ++x) {
          const std::size_t cell = static_cast<std::size_t>(x + kTrackCellsX * y);
          tracks.total[cell] = 20;
          tracks.matched[cell] = 20 * share;
        }
    };
  };
  Step healthy;
  healthy.tracks_per_event = 20;
  healthy.edit = block(0.999);
  run_steps(judge, run, judge_efficiency, healthy, 6);
  Step lost = healthy;
  lost.edit = block(0);
  const std::vector<Result> results = run_steps(judge, run, judge_efficiency, lost, 1);
  const Result& chip = find(results, 3, kBeamChip);
  EXPECT_EQ(chip.verdict, Verdict::Medium) << "past the Bad limit, not yet significantly: " << chip.reason;
  EXPECT_EQ(chip.reason.rfind("stave 3, chip 4, columns 0 to 255, rows 256 to 511: efficiency 87.9% (1,748 of 1,990 "
                              "tracks) in the last 1,000 events, 99.9% earlier",
                              0),
            0u)
      << chip.reason;
}

// A chip that is low from the start has no level of its own to fall from:
// the median chip of the detector is the expectation.
TEST(Efficiency, AChipLowFromTheStartIsJudgedAgainstTheDetector) {
  Judge judge;
  TrackRun run;
  Step low;
  low.efficiency[1][5] = 0.9;
  const std::vector<Result> results = run_steps(judge, run, judge_efficiency, low, 3);
  EXPECT_GE(find(results, 1, 5).verdict, Verdict::Medium);
  EXPECT_NE(find(results, 1, 5).reason.find("99.9% on the detector's median chip"), std::string::npos)
      << find(results, 1, 5).reason;
}

// A loss that lasts never becomes the expectation, and a limit once past
// holds until the efficiency is back by a margin.
TEST(Efficiency, ALastingLossStaysFlaggedAndClearsOnlyPastTheMargin) {
  Judge judge;
  TrackRun run;
  run_steps(judge, run, judge_efficiency, Step{}, 5);
  Step lossy;
  lossy.efficiency[2][3] = 0.95;
  std::vector<Result> results = run_steps(judge, run, judge_efficiency, lossy, 20);
  EXPECT_EQ(find(results, 2, 3).verdict, Verdict::Medium) << find(results, 2, 3).reason;
  EXPECT_NE(find(results, 2, 3).reason.find("99.9% earlier"), std::string::npos) << find(results, 2, 3).reason;
  Step near_limit;
  near_limit.efficiency[2][3] = 0.999 * 0.972;  // within the limit, not by the margin
  results = run_steps(judge, run, judge_efficiency, near_limit, 4);
  EXPECT_EQ(find(results, 2, 3).verdict, Verdict::Medium) << find(results, 2, 3).reason;
  results = run_steps(judge, run, judge_efficiency, Step{}, 4);
  EXPECT_EQ(find(results, 2, 3).verdict, Verdict::Good) << find(results, 2, 3).reason;
}

// The tracks for a stave come from the other three: when one of those fails,
// the others' tracks vanish and are not judged, while the failing stave is.
TEST(Efficiency, StavesWithoutTheirTracksAreNotJudged) {
  Judge judge;
  TrackRun run;
  run_steps(judge, run, judge_efficiency, Step{}, 5);
  Step dead;
  dead.efficiency[1].fill(0);
  for (int s : {0, 2, 3}) dead.track_scale[static_cast<std::size_t>(s)] = 0.05;  // a few chance tracks
  for (int s : {0, 2, 3}) dead.efficiency[static_cast<std::size_t>(s)].fill(0.5);
  const std::vector<Result> results = run_steps(judge, run, judge_efficiency, dead, 3);
  EXPECT_EQ(worst_of(results, 1), Verdict::Bad);
  for (int s : {0, 2, 3}) {
    const Result& chip = find(results, s, kBeamChip);
    EXPECT_EQ(worst_of(results, s), Verdict::Null) << chip.reason;
    EXPECT_NE(chip.reason.find("not judged: 600 tracks in the last 3,000 events against 12,000 for stave 1"),
              std::string::npos)
        << chip.reason;
  }
}

TEST(Efficiency, NoTracksAtAllIsNoBeam) {
  Judge judge;
  TrackRun run;
  Step off;
  off.tracks_per_event = 0;
  const std::vector<Result> results = run_steps(judge, run, judge_efficiency, off, 3);
  EXPECT_EQ(find(results, 0, 4).verdict, Verdict::Null);
  EXPECT_NE(find(results, 0, 4).reason.find("no tracks in the last"), std::string::npos) << find(results, 0, 4).reason;
}

TEST(TrackSynchronisation, AStaveMatchingTheEventBeforeIsLate) {
  for (const auto& [share, expected] : std::vector<std::pair<double, Verdict>>{
           {0.008, Verdict::Good}, {0.015, Verdict::Medium}, {0.05, Verdict::Bad}}) {
    SCOPED_TRACE(share);
    Judge judge;
    TrackRun run;
    Step late;
    late.lag_share[1] = {share, 0.005, 0.002};  // matches at lag -1 against 0.005 at lag 0
    const std::vector<Result> results = run_steps(judge, run, judge_track_synchronisation, late, 3);
    EXPECT_EQ(find(results, 1).verdict, expected) << find(results, 1).reason;
    EXPECT_EQ(find(results, 0).verdict, Verdict::Good);
  }
  Judge judge;
  TrackRun run;
  Step late;
  late.lag_share[1] = {0.9, 0.01, 0.002};
  std::vector<Result> results = run_steps(judge, run, judge_track_synchronisation, late, 1);
  EXPECT_EQ(find(results, 1).reason,
            "stave 1 is one event late: 40 of 4,000 tracks of the other staves in the last 1,000 events match its "
            "clusters of the same event, 3,600 those of the event after, 8 those of the event before");
  Step early;
  early.lag_share[2] = {0.002, 0.01, 0.9};
  results = run_steps(judge, run, judge_track_synchronisation, early, 3);
  EXPECT_NE(find(results, 2).reason.find("stave 2 is one event early"), std::string::npos) << find(results, 2).reason;
}

// A sparse beam: 0.3 particles per event give few tracks, enough to judge.
TEST(TrackSynchronisation, HoldsInASparseBeamAndSaysWhenTracksAreTooFew) {
  Judge judge;
  TrackRun run;
  Step sparse;
  sparse.tracks_per_event = 0.25;
  sparse.lag_share[3] = {0.95, 0.01, 0.01};
  std::vector<Result> results = run_steps(judge, run, judge_track_synchronisation, sparse, 2);
  EXPECT_EQ(find(results, 3).verdict, Verdict::Bad) << find(results, 3).reason;
  Step none;
  none.tracks_per_event = 0.01;
  Judge again;
  TrackRun other;
  results = run_steps(again, other, judge_track_synchronisation, none, 3);
  EXPECT_EQ(find(results, 0).verdict, Verdict::Null);
  EXPECT_NE(find(results, 0).reason.find("30 tracks in the last 3,000 events, 50 needed; the synchronisation check "
                                         "judges it by the stave correlations"),
            std::string::npos)
      << find(results, 0).reason;
}

TEST(Residuals, AStaveThatMovedIsNamedByHowFar) {
  for (const auto& [shift, expected] : std::vector<std::pair<double, Verdict>>{
           {2, Verdict::Good}, {4, Verdict::Medium}, {11, Verdict::Bad}}) {
    SCOPED_TRACE(shift);
    Judge judge;
    TrackRun run;
    run_steps(judge, run, judge_residuals, Step{}, 6);
    Step moved;
    moved.residual_mean[2] = shift;
    const std::vector<Result> results = run_steps(judge, run, judge_residuals, moved, 3);
    EXPECT_EQ(find(results, 2).verdict, expected) << find(results, 2).reason;
    EXPECT_EQ(find(results, 1).verdict, Verdict::Good) << find(results, 1).reason;
  }
}

TEST(Residuals, WiderResidualsAreMediumThenBad) {
  for (const auto& [width, expected] : std::vector<std::pair<double, Verdict>>{
           {0.8, Verdict::Good}, {1.2, Verdict::Medium}, {1.8, Verdict::Bad}}) {
    SCOPED_TRACE(width);
    Judge judge;
    TrackRun run;
    run_steps(judge, run, judge_residuals, Step{}, 6);
    Step wide;
    wide.residual_width[0] = width;
    const std::vector<Result> results = run_steps(judge, run, judge_residuals, wide, 3);
    EXPECT_EQ(find(results, 0).verdict, expected) << find(results, 0).reason;
  }
}

TEST(Residuals, AJumpTheAlignmentRefusedIsBad) {
  Judge judge;
  TrackRun run;
  run_steps(judge, run, judge_residuals, Step{}, 4);
  tracking::StaveAlignment& alignment = run.stave(1).alignment;
  alignment.state = tracking::AlignmentState::displaced;
  alignment.columns = -40;
  alignment.rows = -8;
  alignment.peak_columns = -80;
  alignment.peak_rows = -16;
  alignment.displaced_since_event = 4100;
  std::vector<Result> results = run_steps(judge, run, judge_residuals, Step{}, 1);
  EXPECT_EQ(find(results, 1).verdict, Verdict::Good) << "its tracks still match: " << find(results, 1).reason;
  EXPECT_EQ(find(results, 1).reason.rfind("stave 1 in place: its correlation with stave 3 peaks -40.0 columns", 0), 0u)
      << find(results, 1).reason;
  Step unmatched;
  unmatched.efficiency[1].fill(0.01);
  results = run_steps(judge, run, judge_residuals, unmatched, 1);
  EXPECT_EQ(find(results, 1).verdict, Verdict::Bad);
  EXPECT_EQ(find(results, 1).reason.rfind("stave 1 moved: its hits match those of the other staves -40.0 columns and "
                                          "-8.0 rows from where they did",
                                          0),
            0u)
      << find(results, 1).reason;
  run.stave(1).alignment.state = tracking::AlignmentState::silent;
  EXPECT_EQ(find(run_steps(judge, run, judge_residuals, Step{}, 1), 1).verdict, Verdict::Null);
}

// Stave 3 is the stave the offsets are measured to: when the three others
// all seem displaced by the same amount, it is stave 3 that moved; when one
// of them seems displaced twice as far, it swapped places with stave 3.
TEST(Residuals, StaveThreeMovedWhenTheOthersAllSeemDisplacedAlike) {
  Judge judge;
  TrackRun run;
  run_steps(judge, run, judge_residuals, Step{}, 4);
  const auto displace = [&run](int stave, double offset, double columns, double rows) {
    tracking::StaveAlignment& alignment = run.stave(stave).alignment;
    alignment.state = tracking::AlignmentState::displaced;
    alignment.columns = offset;
    alignment.rows = offset / 5;
    alignment.peak_columns = offset + columns;
    alignment.peak_rows = offset / 5 + rows;
    alignment.displaced_since_event = 4100;
  };
  for (int s = 0; s < 3; ++s) displace(s, -40.0 * (3 - s), 1024 + 0.5 * s, 0.2);
  Step lost;
  for (auto& stave : lost.efficiency) stave.fill(0.01);
  std::vector<Result> results = run_steps(judge, run, judge_residuals, lost, 2);
  EXPECT_EQ(find(results, 3).verdict, Verdict::Bad) << find(results, 3).reason;
  EXPECT_EQ(find(results, 3).reason.rfind("stave 3 moved: its hits lie -1024.5 columns and -0.2 rows", 0), 0u)
      << find(results, 3).reason;
  for (int s = 0; s < 3; ++s) {
    EXPECT_EQ(find(results, s).verdict, Verdict::Null) << find(results, s).reason;
    EXPECT_NE(find(results, s).reason.find("stave 3 moved (stave 3 is judged)"), std::string::npos);
  }

  // Staves 1 and 3 swapped: staves 0 and 2 seem displaced by stave 3's move, stave 1 by twice it.
  displace(0, -120, 80, 16);
  displace(1, -80, 160, 32);
  displace(2, -40, 80, 16);
  results = run_steps(judge, run, judge_residuals, lost, 2);
  EXPECT_EQ(find(results, 3).verdict, Verdict::Bad) << find(results, 3).reason;
  EXPECT_EQ(find(results, 1).verdict, Verdict::Bad) << find(results, 1).reason;
  EXPECT_NE(find(results, 1).reason.find("(staves 1 and 3 swapped?)"), std::string::npos) << find(results, 1).reason;
  EXPECT_EQ(find(results, 0).verdict, Verdict::Null);
  EXPECT_EQ(find(results, 2).verdict, Verdict::Null);

  // Staves 0 and 1 swapped: no two agree, each is judged on its own.
  displace(0, -120, 40, 8);
  displace(1, -80, -40, -8);
  run.stave(2).alignment.state = tracking::AlignmentState::aligned;
  results = run_steps(judge, run, judge_residuals, lost, 2);
  EXPECT_EQ(find(results, 0).verdict, Verdict::Bad) << find(results, 0).reason;
  EXPECT_EQ(find(results, 1).verdict, Verdict::Bad) << find(results, 1).reason;
  EXPECT_NE(find(results, 3).verdict, Verdict::Bad) << find(results, 3).reason;
}

// The weight of a stave in the straight-line fit of the others' tracks: the
// staves beyond it along the beam carry its displacements furthest.
TEST(Residuals, LeverageOfEachStaveInTheOthersTracks) {
  const std::array<double, kStaves> planes = {0, 1, 2, 3};
  EXPECT_DOUBLE_EQ(leverage(planes, 1, 1), 1);
  EXPECT_NEAR(leverage(planes, 0, 1), 4.0 / 3, 1e-12) << "stave 0 is predicted from 1, 2, 3";
  EXPECT_NEAR(leverage(planes, 0, 3), 2.0 / 3, 1e-12);
  EXPECT_NEAR(leverage(planes, 3, 2), 4.0 / 3, 1e-12);
  EXPECT_NEAR(leverage(planes, 1, 0), 4.0 / 7, 1e-12);
  EXPECT_NEAR(leverage(planes, 2, 0), 1.0 / 7, 1e-12);
}

// A stave whose clusters lie a little off widens the residuals of the staves
// it helps fit, most the outer one: it alone is blamed, and the efficiency
// those tracks lose elsewhere is not judged.
TEST(Residuals, TheStaveWhoseClustersLieOffIsBlamedNotThoseItsTracksReach) {
  Judge judge;
  TrackRun run;
  for (int i = 0; i < 6; ++i) judge.both(run.add(Step{}));
  Step off;
  off.residual_width = {0.6 * std::sqrt(1 + 1.78 * 3), 0.6 * 2, 0.6, 0.6};  // stave 1 displaced: 0 sees 4/3 of it
  off.efficiency[0][kBeamChip] = 0.85;
  std::vector<Result> residuals, efficiency;
  for (int i = 0; i < 3; ++i) std::tie(efficiency, residuals) = judge.both(run.add(off));
  EXPECT_GE(find(residuals, 1).verdict, Verdict::Medium) << find(residuals, 1).reason;
  EXPECT_NE(find(residuals, 1).reason.find("the residuals of stave 0, whose tracks it helps make, widen with it"),
            std::string::npos)
      << find(residuals, 1).reason;
  EXPECT_EQ(find(residuals, 0).verdict, Verdict::Good) << find(residuals, 0).reason;
  EXPECT_NE(find(residuals, 0).reason.find("as stave 1's clusters lying off the tracks make them"), std::string::npos)
      << find(residuals, 0).reason;
  EXPECT_EQ(find(efficiency, 0, kBeamChip).verdict, Verdict::Null) << find(efficiency, 0, kBeamChip).reason;
  EXPECT_NE(find(efficiency, 0, kBeamChip).reason.find("not judged: stave 1's clusters lie off the tracks"),
            std::string::npos);
}

// Pairs of unmatched tracks and clusters: at the place a move puts them, far
// above what chance puts around it. No more tracks are explained than went
// unmatched.
TEST(Residuals, HitsFoundElsewhereNameWhereTheyWent) {
  struct Case {
    std::function<void(MovedPairs&)> pairs;
    Verdict verdict;
    std::string named;
  };
  const std::vector<Case> cases = {
      {[](MovedPairs& p) { p.same_place[5] = 300; }, Verdict::Bad,
       "but one at the same place on chip 5 (cables of chips 3 and 5 swapped?)"},
      {[](MovedPairs& p) { p.mirrored = 200; }, Verdict::Bad,
       "but one at the mirrored column of the chip (1023 minus theirs) (its columns read in reverse?)"},
      {[](MovedPairs& p) { p.bit_moved[9] = 150; }, Verdict::Bad, "but one 512 columns lower (column address bit 9 stuck at 0?)"},
      {[](MovedPairs& p) { p.bit_moved[kColumnBits + 6] = 30; }, Verdict::Medium,
       "but one 64 columns higher (column address bit 6 stuck at 1?)"},
      // What chance gives: as many around the place as at it.
      {[](MovedPairs& p) {
         p.same_place[5] = 40;
         p.other_place[5] = 40 * 210.0 / 46;
       },
       Verdict::Good, "no hits found elsewhere"},
      {[](MovedPairs& p) { p.same_place[5] = 10; }, Verdict::Good, "30 of 1,440 tracks (2.1%)"},
      {[](MovedPairs& p) { p.same_place[5] = 3000; }, Verdict::Bad, "336 of 480 tracks (70.0%)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.named);
    Judge judge;
    TrackRun run;
    Step moved;
    moved.efficiency[1][3] = 0.3;  // pairs come from tracks that found no cluster
    moved.edit = [&c](int stave, StaveTracks& tracks) {
      if (stave == 1) c.pairs(tracks.moved[3]);
    };
    const std::vector<Result> results = run_steps(judge, run, judge_residuals, moved, 3);
    const Result& chip = find(results, 1, 3);
    EXPECT_EQ(chip.verdict, c.verdict) << chip.reason;
    EXPECT_NE(chip.reason.find(c.named), std::string::npos) << chip.reason;
  }
}

}  // namespace
}  // namespace kivo::quality
