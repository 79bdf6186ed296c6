// The hit-map kernels on either path against the plain ROOT-compatible calls
// (Fill, ProjectionX/Y, Integral, Scale, bin loops, the hot-cell definition),
// on empty, sparse, dense and hand-set maps with under- and overflow and hot
// cells.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <cmath>
#include <memory>
#include <string>
#include <random>
#include <vector>

#include "TH1D.h"
#include "TH2F.h"
#include "hot_cells.h"
#include "map_kernels.h"
#include "monitor_test_support.h"

namespace {

using monitor_test::expect_same_map;
using monitor_test::expect_summary_of;

constexpr int kNx = 9216;
constexpr int kNy = 512;

std::unique_ptr<TH2F> hit_map(const char* name) {
  return std::make_unique<TH2F>(name, "", kNx, -0.5, kNx - 0.5, kNy, -0.5, kNy - 0.5);
}

class Kernels : public ::testing::TestWithParam<KernelPath> {
 protected:
  void SetUp() override { set_kernel_path(GetParam()); }
  void TearDown() override { set_kernel_path(KernelPath::fast); }
};

INSTANTIATE_TEST_SUITE_P(BothPaths, Kernels,
                         ::testing::Values(KernelPath::fast, KernelPath::reference),
                         [](const auto& info) {
                           return info.param == KernelPath::fast ? "Fast" : "Reference";
                         });

// Maps of the kinds the kernels meet: empty; a few hits with under- and
// overflow; every pixel hit with a beam and two hot cells; and contents no
// event gives (fractions, negative, beyond a float's whole numbers).
std::vector<std::unique_ptr<TH2F>> kinds_of_maps() {
  std::vector<std::unique_ptr<TH2F>> maps;
  maps.push_back(hit_map("empty"));
  auto sparse = hit_map("sparse");
  for (const auto& [x, y] : {std::pair{3.0, 7.0}, {9215.0, 511.0}, {0.0, 0.0}, {9300.0, 4.0},
                            {12.0, -3.0}, {-2.0, 600.0}, {3.0, 7.0}})
    sparse->Fill(x, y);
  maps.push_back(std::move(sparse));
  auto dense = hit_map("dense");
  for (int y = 1; y <= kNy; y++)
    for (int x = 1; x <= kNx; x++) {
      const double dx = (x - 4600) / 300.0, dy = (y - 250) / 60.0;
      dense->SetBinContent(x, y, std::floor(1 + 50 * std::exp(-0.5 * (dx * dx + dy * dy))));
    }
  dense->SetBinContent(100, 400, 70000);
  dense->SetBinContent(8000, 3, 5000);
  dense->SetBinContent(0, 5, 9);
  dense->SetBinContent(kNx + 1, kNy + 1, 4);
  maps.push_back(std::move(dense));
  auto odd = hit_map("odd");
  std::mt19937 random(3);
  std::uniform_int_distribution<int> any_x(0, kNx + 1), any_y(0, kNy + 1);
  const float contents[] = {0.25f, -3, 2.5f, 1e-3f, 16777216, 16777218, 1e30f, 7};
  for (int i = 0; i < 40000; i++) odd->SetBinContent(any_x(random), any_y(random), contents[i % 8]);
  maps.push_back(std::move(odd));
  return maps;
}

TEST_P(Kernels, SummariesEqualProjectionsIntegralsAndBlockMaxima) {
  for (const auto& map : kinds_of_maps()) {
    MapSummary summary;
    summarise_map(*map, summary);
    expect_summary_of(*map, summary);
    EXPECT_TRUE(summary_in_step(*map, summary));
    map->Fill(5, 5);
    EXPECT_FALSE(summary_in_step(*map, summary)) << "a Fill behind the summary shows";
  }
}

struct Hit {
  int target, chip, row, col;
};

// Hits on all four maps, more than one batch holds: a beam, repeats of one
// hot pixel, columns beyond their chip and rows beyond the chip.
std::vector<Hit> event_hits() {
  std::mt19937 random(11);
  std::normal_distribution<double> col(300, 80), row(250, 40);
  std::vector<Hit> hits;
  for (int i = 0; i < 5000; i++) {
    const int target = i % 4;
    hits.push_back({target, 4, std::clamp<int>(std::lround(row(random)), 0, 511),
                    std::clamp<int>(std::lround(col(random)), 0, 1023)});
    if (i % 7 == 0) hits.push_back({target, 0, 10, 20});
    if (i % 97 == 0) hits.push_back({target, 8, 3, 1500});
    if (i % 89 == 0) hits.push_back({target, 2, 700, 5});
  }
  return hits;
}

void fill_by_hand(TH2F& map, const Hit& hit) {
  map.Fill(hit.col < 1024 ? hit.chip * 1024 + hit.col : 9999.0, 511 - hit.row);
}

// Four maps filled through a batch with event_hits() and with 3000 hits on
// two cells set by hand, one to a content a float no longer counts up, one
// to a fraction; beside each, the same filled with one Fill per hit. The
// summaries are kept or not, the changes of map 2 logged.
struct FilledMaps {
  std::vector<std::unique_ptr<TH2F>> maps, by_hand;
  MapSummary summaries[kMonitorStaves];
  std::vector<ChangedCell> changes;  // of map 2
  std::unique_ptr<TH2F> before;      // map 2 before the batch

  explicit FilledMaps(bool keep) {
    FillTarget targets[kMonitorStaves];
    for (int t = 0; t < kMonitorStaves; t++) {
      maps.push_back(hit_map(("filled" + std::to_string(t)).c_str()));
      by_hand.push_back(hit_map(("by_hand" + std::to_string(t)).c_str()));
      for (TH2F* map : {maps[t].get(), by_hand[t].get()}) {
        map->SetBinContent(301, 262, 16777216);
        map->SetBinContent(302, 262, 0.5);
        double stats[TH1::kNstat];
        map->GetStats(stats);  // from the bins, kept from now on
        map->PutStats(stats);
      }
      summarise_map(*maps[t], summaries[t]);
      targets[t] = {maps[t].get(), keep ? &summaries[t] : nullptr, t == 2 ? &changes : nullptr};
    }
    before.reset(static_cast<TH2F*>(maps[2]->Clone("before")));
    std::vector<Hit> hits = event_hits();
    for (int t = 0; t < kMonitorStaves; t++)
      for (int i = 0; i < 3000; i++) hits.push_back({t, 0, 511 - 261, 300 + i % 2});
    auto pending = std::make_unique<PendingFills>();
    start_fills(*pending, targets);
    for (const Hit& hit : hits) {
      queue_hits(*pending, hit.target, hit.chip, &hit.row, &hit.col, 1);
      fill_by_hand(*by_hand[hit.target], hit);
    }
    apply_fills(*pending);
  }
};

// The map before the logged changes, divided by one event, as it was.
void expect_changes_undone(const FilledMaps& filled) {
  auto replayed = hit_map("replayed"), plain = hit_map("plain");
  normalise_map_before(*filled.maps[2], filled.changes, 1, *replayed);
  normalise_map(*filled.before, 1, *plain);
  expect_same_map(*replayed, *plain);
}

TEST_P(Kernels, BatchedFillEqualsOneFillPerHitAndKeepsTheSummaries) {
  FilledMaps filled(true);
  for (int t = 0; t < kMonitorStaves; t++) {
    expect_same_map(*filled.maps[t], *filled.by_hand[t]);
    if (GetParam() == KernelPath::fast) {
      EXPECT_TRUE(summary_in_step(*filled.maps[t], filled.summaries[t]));
      expect_summary_of(*filled.maps[t], filled.summaries[t]);
    }
  }
  if (GetParam() == KernelPath::fast) expect_changes_undone(filled);
}

TEST_P(Kernels, BatchedFillWithoutSummariesLeavesThemBehindAndStillLogs) {
  FilledMaps filled(false);
  for (int t = 0; t < kMonitorStaves; t++) {
    expect_same_map(*filled.maps[t], *filled.by_hand[t]);
    EXPECT_FALSE(summary_in_step(*filled.maps[t], filled.summaries[t]));
  }
  if (GetParam() == KernelPath::fast) expect_changes_undone(filled);
}

// A summary left behind by a batch that only logged, brought in step from
// the log: the same as summarising the filled map, including the cells a
// float no longer counts up and the fraction.
// (The plain fill of the reference path logs nothing.)
TEST(FastKernels, SummaryReplayedFromTheLogEqualsTheFilledMaps) {
  set_kernel_path(KernelPath::fast);
  FilledMaps filled(false);
  replay_changes(*filled.maps[2], filled.changes, 0, filled.summaries[2]);
  EXPECT_TRUE(summary_in_step(*filled.maps[2], filled.summaries[2]));
  expect_summary_of(*filled.maps[2], filled.summaries[2]);
}

TEST_P(Kernels, NormalisationEqualsScaleAndOneSetBinContentPerBin) {
  for (const auto& map : kinds_of_maps()) {
    SCOPED_TRACE(map->GetName());
    auto normalised = hit_map("normalised");
    normalised->Fill(1, 1);  // whatever it held goes
    normalise_map(*map, 4, *normalised);
    const std::unique_ptr<TH2F> scaled(static_cast<TH2F*>(map->Clone("scaled")));
    scaled->Scale(0.25);
    auto by_bins = hit_map("by_bins");
    for (int x = 1; x <= kNx; x++)
      for (int y = 1; y <= kNy; y++) {
        const float bc = map->GetBinContent(x, y);
        by_bins->SetBinContent(x, y, bc / 4.0);
      }
    expect_same_map(*normalised, *by_bins);
    for (int x = 1; x <= kNx; x++)
      for (int y = 1; y <= kNy; y++)
        ASSERT_EQ(normalised->GetBinContent(x, y), scaled->GetBinContent(x, y)) << x << "," << y;
  }
}

// A map normalised at one moment, then filled further: the contents from
// before the fills divided again, for the whole map and for a region.
TEST_P(Kernels, NormalisationOfTheContentsBeforeLoggedChanges) {
  auto map = hit_map("logged");
  for (int i = 0; i < 3000; i++) map->Fill(i % 50 + 4000, i % 9 + 100);
  const std::unique_ptr<TH2F> before(static_cast<TH2F*>(map->Clone("earlier")));
  MapSummary summaries[kMonitorStaves];
  std::vector<ChangedCell> changes;
  FillTarget targets[kMonitorStaves];
  auto spare = hit_map("spare");
  for (int t = 0; t < kMonitorStaves; t++) {
    summarise_map(t == 0 ? *map : *spare, summaries[t]);
    targets[t] = {t == 0 ? map.get() : spare.get(), &summaries[t], t == 0 ? &changes : nullptr};
  }
  auto pending = std::make_unique<PendingFills>();
  start_fills(*pending, targets);
  for (int i = 0; i < 2500; i++) {
    const int row = 511 - (i % 11 + 100), col = i % 60 + 4000 - 3072;
    queue_hits(*pending, 0, 3, &row, &col, 1);
  }
  apply_fills(*pending);
  if (GetParam() == KernelPath::fast) {
    ASSERT_FALSE(changes.empty());
  }
  auto expected = hit_map("expected"), replayed = hit_map("replayed");
  normalise_map(*before, 7, *expected);
  normalise_map_before(*map, changes, 7, *replayed);
  if (GetParam() == KernelPath::fast) expect_same_map(*replayed, *expected);
  std::vector<float> region(80 * 20);
  normalise_region_before(*map, changes, 7, 3990, 4069, 95, 114, region.data());
  const TH2F& whole = GetParam() == KernelPath::fast ? *expected : *replayed;
  for (int y = 95; y <= 114; y++)
    for (int x = 3990; x <= 4069; x++)
      ASSERT_EQ(region[(y - 95) * 80 + x - 3990], whole.GetBinContent(x, y)) << x << "," << y;
}

TEST_P(Kernels, BlockMaximaPerEventAreThoseOfTheNormalisedMap) {
  for (const auto& map : kinds_of_maps()) {
    SCOPED_TRACE(map->GetName());
    MapSummary summary;
    summarise_map(*map, summary);
    std::vector<float> per_event;
    per_event_maxima(summary.block_maxima, 3, per_event);
    auto normalised = hit_map("normalised");
    normalise_map(*map, 3, *normalised);
    EXPECT_EQ(per_event, block_maxima_of(*normalised));
  }
}

std::vector<int> bins_above(const TH2F& map, double threshold, bool by_column) {
  std::vector<int> found;
  const int outer_bins = by_column ? kNx : kNy, inner_bins = by_column ? kNy : kNx;
  for (int outer = 1; outer <= outer_bins; outer++)
    for (int inner = 1; inner <= inner_bins; inner++) {
      const int x = by_column ? outer : inner, y = by_column ? inner : outer;
      if (map.GetBinContent(x, y) > threshold) found.push_back(map.GetBin(x, y));
    }
  return found;
}

TEST_P(Kernels, HotBinsInColumnOrderEqualBinLoops) {
  for (const auto& map : kinds_of_maps()) {
    SCOPED_TRACE(map->GetName());
    MapSummary summary;
    summarise_map(*map, summary);
    for (double threshold : {-1.0, 0.0, 2.5, 5000.0, 1e31}) {
      SCOPED_TRACE(threshold);
      EXPECT_EQ(cells_above_by_column(*map, summary, threshold), bins_above(*map, threshold, true));
    }
  }
}

// Hot cells by their definition: above the threshold and above `ratio`
// times the lower median of the in-range neighbours, sorted bin by bin.
HotCells plain_hot_cells(const TH2F& map, double threshold, double ratio) {
  HotCells hot;
  std::vector<double> neighbours;
  for (int y = 1; y <= kNy; y++)
    for (int x = 1; x <= kNx; x++) {
      const double content = map.GetBinContent(x, y);
      if (!(content > threshold)) continue;
      hot.above++;
      neighbours.clear();
      for (int ny = y - 1; ny <= y + 1; ny++)
        for (int nx = x - 1; nx <= x + 1; nx++)
          if ((nx != x || ny != y) && nx >= 1 && nx <= kNx && ny >= 1 && ny <= kNy)
            neighbours.push_back(map.GetBinContent(nx, ny));
      std::sort(neighbours.begin(), neighbours.end());
      if (content > ratio * neighbours[(neighbours.size() - 1) / 2]) hot.cells.push_back(map.GetBin(x, y));
    }
  return hot;
}

// A wide beam spot far above the threshold with hot pixels inside it and a
// square of four in its tail; lone hot pixels in every corner and on every
// edge, two side by side; busy under- and overflow cells next to them.
std::unique_ptr<TH2F> beam_with_hot_pixels() {
  auto map = hit_map("beam_with_hot_pixels");
  for (int y = 1; y <= kNy; y++)
    for (int x = 1; x <= kNx; x++) {
      const double dx = (x - 4600) / 200.0, dy = (y - 250) / 40.0;
      map->SetBinContent(x, y, std::floor(1 + 400 * std::exp(-0.5 * (dx * dx + dy * dy))));
    }
  const std::pair<int, int> hot[] = {{4600, 250}, {4601, 251}, {4800, 262}, {1, 1}, {kNx, 1}, {1, kNy},
                                     {kNx, kNy}, {5000, 1}, {1, 300}, {kNx, 40}, {3000, kNy}, {7000, 100},
                                     {7001, 100}, {5200, 300}, {5201, 300}, {5200, 301}, {5201, 301}};
  for (const auto& [x, y] : hot) map->SetBinContent(x, y, map->GetBinContent(x, y) * 12 + 300);
  for (const auto& [x, y] : {std::pair{0, 1}, {kNx + 1, 40}, {3000, kNy + 1}, {5000, 0}})
    map->SetBinContent(x, y, 90000);
  return map;
}

void expect_plain_hot_cells(const TH2F& map, MapSummary& summary, NeighbourhoodFloors& floors,
                            double threshold, double ratio) {
  SCOPED_TRACE(testing::Message() << "threshold " << threshold << ", ratio " << ratio);
  const HotCells expected = plain_hot_cells(map, threshold, ratio);
  const HotCells found = hot_cells(map, summary, threshold, ratio, floors);
  EXPECT_EQ(found.cells, expected.cells);
  EXPECT_EQ(found.above, expected.above);
}

TEST_P(Kernels, HotCellsEqualTheirDefinitionWhateverTheFloorsHold) {
  std::vector<std::unique_ptr<TH2F>> maps = kinds_of_maps();
  maps.push_back(beam_with_hot_pixels());
  for (const auto& map : maps) {
    SCOPED_TRACE(map->GetName());
    MapSummary summary;
    summarise_map(*map, summary);
    NeighbourhoodFloors floors;
    for (const auto& [threshold, ratio] :
         {std::pair{2.5, 10.0}, {2.5, 10.0}, {-1.0, 10.0}, {40.0, 0.0}, {40.0, 1.0}, {1e31, 10.0}})
      expect_plain_hot_cells(*map, summary, floors, threshold, ratio);
  }
  EXPECT_EQ(plain_hot_cells(*maps.back(), 40, 10).cells.size(), 17u) << "the map holds what it means to";
}

// The beam map as the first of the maps a batch fills, the others spare,
// each with its summary kept.
struct BeamUnderFills {
  std::unique_ptr<TH2F> map = beam_with_hot_pixels();
  std::unique_ptr<TH2F> spare = hit_map("spare");
  MapSummary summaries[kMonitorStaves];
  FillTarget targets[kMonitorStaves];
  BeamUnderFills() {
    for (int t = 0; t < kMonitorStaves; t++) {
      summarise_map(t == 0 ? *map : *spare, summaries[t]);
      targets[t] = {t == 0 ? map.get() : spare.get(), &summaries[t], nullptr};
    }
  }
};

// Floors taken on a map stay true while fills only raise contents, and are
// dropped when the summary is computed afresh after a change by hand.
TEST_P(Kernels, HotCellsFollowFillsAndChangesByHand) {
  BeamUnderFills beam;
  const std::unique_ptr<TH2F>& map = beam.map;
  MapSummary (&summaries)[kMonitorStaves] = beam.summaries;
  FillTarget (&targets)[kMonitorStaves] = beam.targets;
  NeighbourhoodFloors floors;
  expect_plain_hot_cells(*map, summaries[0], floors, 40, 10);
  auto pending = std::make_unique<PendingFills>();
  start_fills(*pending, targets);
  for (int i = 0; i < 6000; i++) {  // x bin 4621, y bin 246, inside the beam
    const int row = 511 - 245, col = 4620 - 4 * 1024;
    queue_hits(*pending, 0, 4, &row, &col, 1);
  }
  apply_fills(*pending);
  if (GetParam() == KernelPath::fast) {
    ASSERT_TRUE(summary_in_step(*map, summaries[0]));
  }
  expect_plain_hot_cells(*map, summaries[0], floors, 40, 10);
  EXPECT_EQ(plain_hot_cells(*map, 40, 10).cells.size(), 18u);

  for (int x = 4639; x <= 4641; x++)
    for (int y = 239; y <= 241; y++) map->SetBinContent(x, y, x == 4640 && y == 240 ? 400 : 2);
  summarise_map(*map, summaries[0]);
  expect_plain_hot_cells(*map, summaries[0], floors, 40, 10);
  EXPECT_EQ(plain_hot_cells(*map, 40, 10).cells.size(), 19u);
}

// Fills `hits` hits into in-range bin (xbin, ybin) of target `target`.
void fill_bin(PendingFills& pending, int target, int xbin, int ybin, int hits) {
  const int chip = (xbin - 1) / 1024, row = 512 - ybin, col = xbin - 1 - chip * 1024;
  for (int i = 0; i < hits; i++) queue_hits(pending, target, chip, &row, &col, 1);
  apply_fills(pending);
}

// What was found in rows that no fill touched since is reused only while
// the threshold passes no content and the rows around them are unchanged:
// a lone hot pixel stops standing out when fills reach its neighbours in
// the next block row only.
TEST_P(Kernels, HotCellsFollowFillsNextToUnchangedRowsAndMovingThresholds) {
  BeamUnderFills beam;
  const std::unique_ptr<TH2F>& map = beam.map;
  MapSummary (&summaries)[kMonitorStaves] = beam.summaries;
  FillTarget (&targets)[kMonitorStaves] = beam.targets;
  auto pending = std::make_unique<PendingFills>();
  start_fills(*pending, targets);
  NeighbourhoodFloors floors;
  for (double threshold : {40.0, 40.5, 311.5, 312.0, 40.0}) expect_plain_hot_cells(*map, summaries[0], floors, threshold, 10);
  fill_bin(*pending, 0, 2, 299, 40);  // one of the five neighbours of (1, 300), in its block row
  expect_plain_hot_cells(*map, summaries[0], floors, 40.2, 10);
  fill_bin(*pending, 0, 1, 301, 40);  // two more, in the block row below
  fill_bin(*pending, 0, 2, 301, 40);
  expect_plain_hot_cells(*map, summaries[0], floors, 40.4, 10);
  const HotCells plain = plain_hot_cells(*map, 40.4, 10);
  EXPECT_EQ(std::count(plain.cells.begin(), plain.cells.end(), 300 * (kNx + 2) + 1), 0) << "no longer alone";
  fill_bin(*pending, 0, 3000, 50, 39);  // a content of 40, passed by the next threshold only
  for (double threshold : {40.4, 39.9, 40.0}) expect_plain_hot_cells(*map, summaries[0], floors, threshold, 10);
}

}  // namespace

namespace {

// The first in-range cell of `map`, row by row, holding `content` in a block
// of kOverviewBlockX x kOverviewBlockY bins that also holds a content above
// `above`.
int cell_beneath_block_maximum(const TH2F& map, float content, float above) {
  for (int y = 1; y <= kNy; y++)
    for (int x = 1; x <= kNx; x++) {
      if (map.GetBinContent(x, y) != content) continue;
      const int first_x = (x - 1) / kOverviewBlockX * kOverviewBlockX + 1;
      const int first_y = (y - 1) / kOverviewBlockY * kOverviewBlockY + 1;
      for (int by = first_y; by < first_y + kOverviewBlockY; by++)
        for (int bx = first_x; bx < first_x + kOverviewBlockX; bx++)
          if (map.GetBinContent(bx, by) > above) return map.GetBin(x, y);
    }
  return -1;
}

}  // namespace

// The count of cells above the threshold follows fills that carry a cell
// past it beneath its block's maximum, fills of the same columns in other
// rows, a quiet block rising above the threshold as a lone hot pixel, and a
// block wholly above it growing; then thresholds that pass contents.
// `fill(x, y, hits)` fills the beam map and leaves its summary in step.
void expect_counts_follow_fills(BeamUnderFills& beam, const std::function<void(int, int, int)>& fill) {
  TH2F& map = *beam.map;
  MapSummary& summary = beam.summaries[0];
  NeighbourhoodFloors floors;
  expect_plain_hot_cells(map, summary, floors, 40.3, 10);
  const int crossing = cell_beneath_block_maximum(map, 40, 41);
  ASSERT_GE(crossing, 0);
  const int x = crossing % (kNx + 2), y = crossing / (kNx + 2);
  const int above_before = plain_hot_cells(map, 40.3, 10).above;
  fill(x, y, 1);
  EXPECT_EQ(plain_hot_cells(map, 40.3, 10).above, above_before + 1) << "one cell more, the block's maximum as it was";
  expect_plain_hot_cells(map, summary, floors, 40.4, 10);
  fill(x, y > 100 ? 5 : 500, 3);  // the same column, far from that block
  expect_plain_hot_cells(map, summary, floors, 40.5, 10);
  fill(1500, 200, 45);  // a quiet block, now above the threshold
  expect_plain_hot_cells(map, summary, floors, 40.5, 10);
  fill(2000, 460, 45);  // the same in a row with no block above it before
  expect_plain_hot_cells(map, summary, floors, 40.5, 10);
  const std::vector<int> lone = plain_hot_cells(map, 40.5, 10).cells;
  EXPECT_EQ(std::count(lone.begin(), lone.end(), 200 * (kNx + 2) + 1500), 1) << "a hot pixel of its own";
  fill(4600, 250, 7);  // the beam's centre, a block wholly above
  for (double threshold : {40.5, 40.99, 41.0, 39.5, 45.0})
    expect_plain_hot_cells(map, summary, floors, threshold, 10);
}

TEST_P(Kernels, HotCellCountsFollowFillsBeneathBlockMaximaAndRisingBlocks) {
  BeamUnderFills beam;
  auto pending = std::make_unique<PendingFills>();
  start_fills(*pending, beam.targets);
  expect_counts_follow_fills(beam, [&](int x, int y, int hits) { fill_bin(*pending, 0, x, y, hits); });
}

// The same while the fill path only logs the changes and the summary is
// brought in step from the log, as between two refreshes.
TEST(FastKernels, HotCellCountsFollowFillsReplayedFromTheLog) {
  set_kernel_path(KernelPath::fast);
  BeamUnderFills beam;
  std::vector<ChangedCell> changes;
  for (FillTarget& target : beam.targets) target.summary = nullptr;
  beam.targets[0].changes = &changes;
  auto pending = std::make_unique<PendingFills>();
  start_fills(*pending, beam.targets);
  expect_counts_follow_fills(beam, [&](int x, int y, int hits) {
    const std::size_t first = changes.size();
    fill_bin(*pending, 0, x, y, hits);
    replay_changes(*beam.map, changes, first, beam.summaries[0]);
  });
}

// A chip's total is its column sums added in order, bit for bit, whether
// they are whole numbers taken several at a time or fractions added in turn.
TEST(ChipTotals, EqualTheColumnSumsAddedInOrder) {
  MapSummary summary;
  summary.column_sums.assign(kNx + 2, 0.0);
  for (int x = 1; x <= kNx; x++) summary.column_sums[x] = double(x % 97) * 1e6 + x;
  summary.column_sums[2000] = 0.1;  // chip 1 holds a fraction
  summary.column_sums[5000] = 1e17;  // chip 4 holds a sum too large to take at once
  for (int chip = 0; chip < 9; chip++) {
    double in_order = 0;
    for (int x = chip * 1024 + 1; x <= (chip + 1) * 1024; x++) in_order += summary.column_sums[x];
    EXPECT_EQ(chip_total(summary, chip), in_order) << "chip " << chip;
  }
}
