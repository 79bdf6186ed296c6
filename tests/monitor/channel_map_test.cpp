// The channel map, by its properties and a few spot values, and the hit-word
// layout.
#include <gtest/gtest.h>

#include <set>
#include <utility>

#include "Simulator.h"
#include "monitor_state.h"

namespace {

// Four staves of nine chips: each chip has exactly one channel.
TEST(ChannelMap, GivesEachChipOfTheFourStavesOneChannel) {
  std::set<chiplocation> chips;
  for (const auto& [channel, chip] : chipmap) {
    EXPECT_TRUE(chip.first >= 0 && chip.first < 4 && chip.second >= 0 && chip.second < 9)
        << channel.first << "," << channel.second;
    chips.insert(chip);
  }
  EXPECT_EQ(chipmap.size(), 36u);
  EXPECT_EQ(chips.size(), 36u) << "two channels lead to one chip";
}

// Stave 1 hangs on readout unit 2, channels 1 to 9; the others share unit 1,
// channels 1 to 27.
TEST(ChannelMap, StaveOneHasUnitTwoAndTheOthersShareUnitOne) {
  for (const auto& [channel, chip] : chipmap) {
    const bool stave_one = chip.first == 1;
    EXPECT_EQ(channel.first, stave_one ? 2 : 1) << "stave " << chip.first << " chip " << chip.second;
    EXPECT_GE(channel.second, 1);
    EXPECT_LE(channel.second, stave_one ? 9 : 27);
  }
}

// The ends and the turns of the wiring: stave 0 counts up (its last chip on
// channel 27), stave 1 starts with its first three chips backwards, staves 2
// and 3 count down.
TEST(ChannelMap, KnowsTheWiringAtItsEndsAndTurns) {
  const std::pair<chipkey, chiplocation> spots[] = {
      {{1, 1}, {0, 0}},  {{1, 8}, {0, 7}},  {{1, 27}, {0, 8}}, {{2, 1}, {1, 2}},  {{2, 3}, {1, 0}},
      {{2, 4}, {1, 3}},  {{2, 9}, {1, 8}},  {{1, 18}, {2, 8}}, {{1, 26}, {2, 0}}, {{1, 9}, {3, 8}},
      {{1, 17}, {3, 0}},
  };
  for (const auto& [channel, chip] : spots) {
    ASSERT_EQ(chipmap.count(channel), 1u) << channel.first << "," << channel.second;
    EXPECT_EQ(chipmap.at(channel), chip) << channel.first << "," << channel.second;
  }
}

// kivo-sim writes each chip's hits on the channel its own table gives; the
// monitor must read every one of them back onto that chip.
TEST(ChannelMap, ReadsBackEveryChipTheSimulatorWrites) {
  for (int stave = 0; stave < 4; ++stave)
    for (int chip = 0; chip < 9; ++chip) {
      const kivo::sim::ReadoutChannel channel = kivo::sim::channel_of(stave, chip);
      const auto found = chipmap.find({channel.ruid, channel.ruchn});
      ASSERT_NE(found, chipmap.end()) << "stave " << stave << " chip " << chip;
      EXPECT_EQ(found->second, chiplocation(stave, chip));
    }
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
