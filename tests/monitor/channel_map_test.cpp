// The channel map and the hit-word layout.
#include <gtest/gtest.h>

#include "monitor_state.h"

namespace {

TEST(ChannelMap, HoldsTheThirtySixChannelsOfTheTestStand) {
  const std::map<chipkey, chiplocation> expected = {
      {{1, 1}, {0, 0}},  {{1, 2}, {0, 1}},  {{1, 3}, {0, 2}},  {{1, 4}, {0, 3}},
      {{1, 5}, {0, 4}},  {{1, 6}, {0, 5}},  {{1, 7}, {0, 6}},  {{1, 8}, {0, 7}},
      {{1, 9}, {3, 8}},  {{1, 10}, {3, 7}}, {{1, 11}, {3, 6}}, {{1, 12}, {3, 5}},
      {{1, 13}, {3, 4}}, {{1, 14}, {3, 3}}, {{1, 15}, {3, 2}}, {{1, 16}, {3, 1}},
      {{1, 17}, {3, 0}}, {{1, 18}, {2, 8}}, {{1, 19}, {2, 7}}, {{1, 20}, {2, 6}},
      {{1, 21}, {2, 5}}, {{1, 22}, {2, 4}}, {{1, 23}, {2, 3}}, {{1, 24}, {2, 2}},
      {{1, 25}, {2, 1}}, {{1, 26}, {2, 0}}, {{1, 27}, {0, 8}}, {{2, 1}, {1, 2}},
      {{2, 2}, {1, 1}},  {{2, 3}, {1, 0}},  {{2, 4}, {1, 3}},  {{2, 5}, {1, 4}},
      {{2, 6}, {1, 5}},  {{2, 7}, {1, 6}},  {{2, 8}, {1, 7}},  {{2, 9}, {1, 8}},
  };
  EXPECT_EQ(chipmap, expected);
}

TEST(ChannelMap, UnitsAndChannelsWithoutChipAreAbsent) {
  for (int ruchn = 0; ruchn <= 28; ruchn++) {
    EXPECT_EQ(chipmap.count({0, ruchn}), 0u);
    EXPECT_EQ(chipmap.count({3, ruchn}), 0u);
    EXPECT_EQ(chipmap.count({4, ruchn}), 0u);
  }
  EXPECT_EQ(chipmap.count({1, 0}), 0u);
  EXPECT_EQ(chipmap.count({1, 28}), 0u);
  EXPECT_EQ(chipmap.count({2, 0}), 0u);
  EXPECT_EQ(chipmap.count({2, 10}), 0u);
}

TEST(HitWord, DecodesRowFromTheUpperAndColumnFromTheLowerHalf) {
  const int hit = (511 << 16) | 1023;
  EXPECT_EQ(decode_row(hit) & 0xffff, 511);
  EXPECT_EQ(decode_col(hit) & 0xffff, 1023);
}

TEST(HitWord, BitThirtyOneGivesALargeRowNeverANegativeOne) {
  const int hit = static_cast<int>(0x80010005u);
  EXPECT_EQ(decode_row(hit) & 0xffff, 0x8001);
  EXPECT_EQ(decode_col(hit) & 0xffff, 5);
  EXPECT_EQ(decode_row(static_cast<int>(0xffffffffu)) & 0xffff, 65535);
}

}  // namespace
