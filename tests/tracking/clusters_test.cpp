// Clusters: 8-neighbour grouping, never across a chip border, at the edges
// of the stave, with pixels read twice, on both the few-pixel and the
// many-pixel paths (against a plain flood fill).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "Clusters.h"
#include "tracking_test_support.h"

namespace kivo::tracking {
namespace {

using testing::key;

std::vector<Cluster> clusters_of(std::vector<unsigned> keys) {
  ClusterScratch scratch;
  std::vector<Cluster> out;
  build_clusters(keys, out, scratch);
  return out;
}

TEST(Clusters, TouchingPixelsFormOneClusterWithTheirMeanPosition) {
  // An L of three pixels and a diagonal neighbour, and a lone pixel two columns away.
  const auto clusters = clusters_of({key(100, 10), key(100, 11), key(101, 11), key(102, 12), key(104, 12)});
  ASSERT_EQ(clusters.size(), 2u);
  EXPECT_EQ(clusters[0].size, 4);
  EXPECT_DOUBLE_EQ(clusters[0].column, (100 + 100 + 101 + 102) / 4.0);
  EXPECT_DOUBLE_EQ(clusters[0].row, (10 + 11 + 11 + 12) / 4.0);
  EXPECT_EQ(clusters[1].size, 1);
  EXPECT_DOUBLE_EQ(clusters[1].column, 104);
}

TEST(Clusters, NeverSpanTwoChips) {
  // Side by side and diagonal across the border of chips 2 and 3.
  const auto clusters = clusters_of({key(2047, 300), key(2048, 300), key(2048, 301), key(2047, 299)});
  ASSERT_EQ(clusters.size(), 2u);
  EXPECT_DOUBLE_EQ(clusters[0].column, 2047);
  EXPECT_EQ(clusters[0].size, 2);
  EXPECT_DOUBLE_EQ(clusters[1].column, 2048);
  EXPECT_EQ(clusters[1].size, 2);
}

TEST(Clusters, TheLastRowOfAColumnDoesNotTouchTheFirstRowOfTheNext) {
  // Their keys differ by one, as two pixels of one column do.
  const auto clusters = clusters_of({key(500, 511), key(501, 0)});
  EXPECT_EQ(clusters.size(), 2u);
}

TEST(Clusters, AreBuiltAtTheCornersOfTheStave) {
  const auto clusters = clusters_of({key(0, 0), key(0, 1), key(1, 0), key(9215, 511), key(9214, 510)});
  ASSERT_EQ(clusters.size(), 2u);
  EXPECT_EQ(clusters[0].size, 3);
  EXPECT_NEAR(clusters[0].column, 1 / 3.0, 1e-12);
  EXPECT_EQ(clusters[1].size, 2);
  EXPECT_DOUBLE_EQ(clusters[1].column, 9214.5);
  EXPECT_DOUBLE_EQ(clusters[1].row, 510.5);
}

TEST(Clusters, APixelReadTwiceCountsOnce) {
  const auto clusters = clusters_of({key(7, 7), key(7, 8), key(7, 7)});
  ASSERT_EQ(clusters.size(), 1u);
  EXPECT_EQ(clusters[0].size, 2);
  EXPECT_DOUBLE_EQ(clusters[0].row, 7.5);
}

TEST(Clusters, AreOrderedByCentreColumn) {
  const auto clusters = clusters_of({key(9000, 1), key(5, 1), key(4000, 1), key(4000, 2), key(3999, 3)});
  ASSERT_EQ(clusters.size(), 3u);
  EXPECT_TRUE(std::is_sorted(clusters.begin(), clusters.end(),
                             [](const Cluster& a, const Cluster& b) { return a.column < b.column; }));
}

// A plain flood fill over a set of pixels: the clusters as (size, column
// sum, row sum), sorted.
std::vector<std::tuple<int, double, double>> flood_fill(const std::vector<unsigned>& keys) {
  std::set<std::pair<int, int>> left;
  for (unsigned k : keys) left.insert({static_cast<int>(k / 512), static_cast<int>(k % 512)});
  std::vector<std::tuple<int, double, double>> clusters;
  while (!left.empty()) {
    std::vector<std::pair<int, int>> stack = {*left.begin()};
    left.erase(left.begin());
    int size = 0;
    double columns = 0, rows = 0;
    while (!stack.empty()) {
      const auto [c, r] = stack.back();
      stack.pop_back();
      ++size, columns += c, rows += r;
      for (int dc = -1; dc <= 1; ++dc)
        for (int dr = -1; dr <= 1; ++dr) {
          const std::pair<int, int> next{c + dc, r + dr};
          if (next.first / 1024 != c / 1024 || next.first < 0) continue;
          if (auto it = left.find(next); it != left.end()) {
            stack.push_back(next);
            left.erase(it);
          }
        }
    }
    clusters.emplace_back(size, columns, rows);
  }
  std::sort(clusters.begin(), clusters.end());
  return clusters;
}

TEST(Clusters, MatchAFloodFillOnRandomPixelsFewAndMany) {
  std::mt19937 random(7);
  for (int n : {5, 20, 64, 65, 200, 1500}) {
    for (int trial = 0; trial < 20; ++trial) {
      // Pixels crowded into a few chip borders, so that neighbours, borders and repeats are common.
      std::uniform_int_distribution<int> border(1, 8), repeat(0, 9);
      std::vector<unsigned> keys;
      const int spread = n > 100 ? 40 : 6;
      std::uniform_int_distribution<int> wide(-spread, spread);
      for (int i = 0; i < n; ++i) {
        if (!keys.empty() && repeat(random) == 0) {
          keys.push_back(keys[static_cast<std::size_t>(random() % keys.size())]);
          continue;
        }
        const int column = std::clamp(border(random) * 1024 + wide(random), 0, 9215);
        keys.push_back(key(column, std::clamp(256 + wide(random), 0, 511)));
      }
      // Sums of whole pixel numbers, so rounding to whole numbers undoes the division.
      std::vector<std::tuple<int, double, double>> built;
      for (const Cluster& c : clusters_of(keys))
        built.emplace_back(c.size, std::round(c.column * c.size), std::round(c.row * c.size));
      std::sort(built.begin(), built.end());
      const auto expected = flood_fill(keys);
      ASSERT_EQ(built.size(), expected.size()) << n << " pixels, trial " << trial;
      for (std::size_t i = 0; i < built.size(); ++i) {
        EXPECT_EQ(std::get<0>(built[i]), std::get<0>(expected[i]));
        EXPECT_NEAR(std::get<1>(built[i]), std::get<1>(expected[i]), 1e-6);
        EXPECT_NEAR(std::get<2>(built[i]), std::get<2>(expected[i]), 1e-6);
      }
    }
  }
}

}  // namespace
}  // namespace kivo::tracking
