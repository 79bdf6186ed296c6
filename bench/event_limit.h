// The machine's limit for event processing, shared by the paths compared with
// it: decode every hit word of the mapped channels and increment its cell in a
// flat float map per stave, laid out as a hit map's cell array.
#ifndef KIVO_BENCH_EVENT_LIMIT_H
#define KIVO_BENCH_EVENT_LIMIT_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "EventRecord.h"

namespace kivo::bench {

inline constexpr int kMapColumns = 9216 + 2;
inline constexpr int kMapRows = 512 + 2;
inline constexpr std::size_t kMapCells = std::size_t{kMapColumns} * kMapRows;

// The hit words of one mapped channel, with where they land.
struct ChannelHits {
  int stave;
  int chip;
  const std::vector<std::uint32_t>* words;
};

// The channels of `records` that the monitor's channel map knows; they point
// into `records`.
std::vector<ChannelHits> mapped_channels(const std::vector<eventio::EventRecord>& records);

std::size_t count_hits(const std::vector<ChannelHits>& channels);

// One map of kMapCells per stave, empty.
std::vector<std::vector<float>> limit_maps();

void decode_and_increment(const std::vector<ChannelHits>& channels, std::vector<std::vector<float>>& maps);

}  // namespace kivo::bench

#endif
