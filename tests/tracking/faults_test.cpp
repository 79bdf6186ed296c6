// Faults that move hits instead of removing them, made by changing simulated
// events: a stave that jumped, two staves with swapped cables, two chips
// with swapped cables, mirrored columns, a stuck column address bit, and a
// stave drifting slowly, which is followed, not flagged.
#include <gtest/gtest.h>

#include <cmath>

#include "TGraph.h"
#include "TH1F.h"
#include "TH2F.h"
#include "tracking_test_support.h"

namespace kivo::tracking {
namespace {

using testing::efficiency;
using testing::move_hits;
using testing::track_run;
using testing::tracks;

constexpr long long kEvents = 8000, kFrom = 4000;

// Contents of a map over x bins of one chip's cells (16 of 64 columns), y bins y1..y2.
double over(const TH2F* map, int x_chip, int y1, int y2) {
  return map->Integral(x_chip * 16 + 1, x_chip * 16 + 16, y1, y2, "");
}

TEST(Faults, AStaveThatJumpedStaysDisplacedAndItsOffsetIsKept) {
  testing::TrackedRun run = track_run(sim::SimConfig{}, kEvents, move_hits(1, kFrom, [](int& column, int&) {
                                        column += 600;
                                        return column < kStaveColumns;
                                      }));
  const StaveAlignment& a = run.tracker->alignment().staves[1];
  EXPECT_EQ(a.state, AlignmentState::displaced);
  EXPECT_NEAR(a.columns, -80, 1);
  EXPECT_NEAR(a.peak_columns, -80 + 600, 2);
  EXPECT_NEAR(a.peak_rows, -16, 2);
  EXPECT_GT(a.displaced_since_event, kFrom - 1500);
  EXPECT_LT(a.displaced_since_event, kFrom + 2500);
  // The history holds no jump: only the offset as found and small steps.
  for (const AlignmentChange& change : run.tracker->alignment().history)
    if (change.stave == 1) {
      EXPECT_NEAR(change.columns, -80, 1);
    }
  const Objects& o = run.tracker->objects();
  EXPECT_NEAR(efficiency(o, 1), 0.5, 0.05);
  // The lost tracks find stave 1's clusters 600 columns on.
  EXPECT_GT(o.moved_col[1]->GetBinContent(5, 1024 + 600), 0.5 * tracks(o, 1) / 2 * 0.9);
  bool logged = false;
  for (const std::string& line : run.log) logged = logged || line.find("stave 1: the correlation") != std::string::npos;
  EXPECT_TRUE(logged);
}

TEST(Faults, TwoStavesWithSwappedCablesAreBothDisplacedToEachOthersOffset) {
  testing::TrackedRun run = track_run(sim::SimConfig{}, kEvents, [](long long i, testing::EventPixels& e) {
    if (i >= kFrom) std::swap(e.pixels[0], e.pixels[1]);
  });
  const Alignment& a = run.tracker->alignment();
  EXPECT_EQ(a.staves[0].state, AlignmentState::displaced);
  EXPECT_EQ(a.staves[1].state, AlignmentState::displaced);
  EXPECT_NEAR(a.staves[0].peak_columns, a.staves[1].columns, 1.5);
  EXPECT_NEAR(a.staves[1].peak_columns, a.staves[0].columns, 1.5);
  EXPECT_NEAR(a.staves[0].peak_rows, a.staves[1].rows, 1.5);
  EXPECT_EQ(a.staves[2].state, AlignmentState::aligned);
  // Tracks for every stave need stave 0 or 1 in its place: from the swap on there are nearly none.
  const Objects& o = run.tracker->objects();
  const TH2F* per_event = o.tracks_per_event;
  for (int s = 0; s < kStaves; ++s) {
    const double no_track_events = per_event->GetBinContent(1, s + 1);
    EXPECT_GT(no_track_events, 0.4 * per_event->Integral(0, 22, s + 1, s + 1, "")) << s;
  }
}

// In a sparse beam the correlation of one epoch holds few pairs: a peak of
// a dozen pairs over next to no background already tells that every stave
// moved against stave 3 when stave 3's cables were swapped with stave 1's.
TEST(Faults, ASwapWithTheReferenceStaveInASparseBeamIsSeenWithinThreeEpochs) {
  const auto swapped = [](long long i, testing::EventPixels& e) {
    if (i >= kFrom) std::swap(e.pixels[1], e.pixels[3]);
  };
  for (const std::uint64_t seed : {2, 8, 12}) {
    sim::SimConfig sparse;
    sparse.particles = 3;
    sparse.seed = seed;
    testing::TrackedRun run = track_run(sparse, kEvents, swapped, Settings{}, true);
    const Alignment& a = run.tracker->alignment();
    for (std::size_t s = 0; s < kStaves - 1; ++s) {
      EXPECT_EQ(a.staves[s].state, AlignmentState::displaced) << "seed " << seed << ", stave " << s;
      EXPECT_LT(a.staves[s].displaced_since_event, kFrom + 1100) << "seed " << seed << ", stave " << s;
    }
    EXPECT_NEAR(a.staves[1].peak_columns, 80, 2) << "seed " << seed;
  }
}

TEST(Faults, SwappedChipCablesPutTheLostHitsOnTheOtherChip) {
  // Chips 3 and 5 of stave 2 (beside the beam chip 4) exchange their hits.
  sim::SimConfig wide;
  wide.beam_sigma_col = 900;
  testing::TrackedRun run = track_run(wide, kEvents, move_hits(2, kFrom, [](int& column, int&) {
                                        const int chip = column / kChipColumns;
                                        if (chip == 3 || chip == 5) column += (8 - 2 * chip) * kChipColumns;
                                        return true;
                                      }));
  const Objects& o = run.tracker->objects();
  EXPECT_NEAR(efficiency(o, 2, 3), 0.5, 0.05);
  EXPECT_NEAR(efficiency(o, 2, 5), 0.5, 0.05);
  EXPECT_GT(efficiency(o, 2, 4), 0.995);
  // Predicted on chip 3, found on chip 5, and back; the same local cell.
  const TH2F* cells = o.moved_cells[2];
  const double to_5 = over(cells, 3, 5 * 16 + 1, 5 * 16 + 16), to_3 = over(cells, 5, 3 * 16 + 1, 3 * 16 + 16);
  const double lost_3 = tracks(o, 2, 3) - efficiency(o, 2, 3) * tracks(o, 2, 3);
  EXPECT_GT(to_5, 0.8 * lost_3);
  EXPECT_GT(to_3, 0.5 * to_5);
  double diagonal = 0;
  for (int cell = 0; cell < 16; ++cell) diagonal += cells->GetBinContent(3 * 16 + cell + 1, 5 * 16 + cell + 1);
  EXPECT_GT(diagonal, 0.9 * to_5);
  // Other staves are judged as before.
  for (int s : {0, 1, 3}) EXPECT_GT(efficiency(o, s), 0.995) << s;
}

TEST(Faults, MirroredColumnsFillTheAntidiagonalOfTheChip) {
  testing::TrackedRun run = track_run(sim::SimConfig{}, kEvents, move_hits(1, kFrom, [](int& column, int&) {
                                        if (column / kChipColumns == 4) column = 4 * kChipColumns + 1023 - column % kChipColumns;
                                        return true;
                                      }));
  const Objects& o = run.tracker->objects();
  EXPECT_LT(efficiency(o, 1, 4), 0.6);
  const TH2F* cells = o.moved_cells[1];
  double antidiagonal = 0, block = over(cells, 4, 4 * 16 + 1, 4 * 16 + 16);
  for (int cell = 0; cell < 16; ++cell) antidiagonal += cells->GetBinContent(4 * 16 + cell + 1, 4 * 16 + 16 - cell);
  EXPECT_GT(block, 0.4 * tracks(o, 1, 4) * 0.9);
  EXPECT_GT(antidiagonal, 0.8 * block);
}

TEST(Faults, AStuckColumnBitMovesHalfTheHitsByItsWeight) {
  // Bit 4 of chip 4's column addresses stuck at 1: columns with it clear move 16 on.
  testing::TrackedRun run = track_run(sim::SimConfig{}, kEvents, move_hits(1, kFrom, [](int& column, int&) {
                                        if (column / kChipColumns == 4) column |= 16;
                                        return true;
                                      }));
  const Objects& o = run.tracker->objects();
  EXPECT_NEAR(efficiency(o, 1, 4), 0.75, 0.05);
  const TH2F* moved = o.moved_col[1];
  const double at_16 = moved->Integral(5, 5, 1024 + 16 - 1, 1024 + 16 + 1, "");
  EXPECT_GT(at_16, 0.8 * (1 - efficiency(o, 1, 4)) * tracks(o, 1, 4));
  EXPECT_GT(at_16, 0.8 * moved->Integral(5, 5, 1, 2047, ""));
}

TEST(Faults, ASlowDriftIsFollowedWithoutLosingEfficiency) {
  // Stave 2 moves 12 columns and 6 rows over the run.
  constexpr long long kDriftEvents = 12000;
  testing::TrackedRun run = track_run(sim::SimConfig{}, kDriftEvents, [](long long i, testing::EventPixels& e) {
    const int dc = static_cast<int>(std::lround(12.0 * i / kDriftEvents)), dr = static_cast<int>(std::lround(6.0 * i / kDriftEvents));
    std::vector<unsigned> moved;
    for (unsigned k : e.pixels[2]) {
      const int column = testing::column_of(k) + dc, row = testing::row_of(k) + dr;
      if (column / kChipColumns == testing::column_of(k) / kChipColumns && row < kRows) moved.push_back(testing::key(column, row));
    }
    e.pixels[2] = moved;
  });
  const StaveAlignment& a = run.tracker->alignment().staves[2];
  EXPECT_EQ(a.state, AlignmentState::aligned);
  EXPECT_NEAR(a.columns, -40 + 12, 1.5);
  EXPECT_NEAR(a.rows, -8 + 6, 1.5);
  const Objects& o = run.tracker->objects();
  EXPECT_GT(efficiency(o, 2), 0.99);
  // The history shows the way it went.
  EXPECT_GT(o.offset_history_col[2]->GetN(), 10);
}

}  // namespace
}  // namespace kivo::tracking
