#include "event_limit.h"

#include "monitor_state.h"

namespace kivo::bench {

std::vector<ChannelHits> mapped_channels(const std::vector<eventio::EventRecord>& records) {
  std::vector<ChannelHits> channels;
  for (const auto& record : records)
    for (const auto& unit : record.units)
      for (const auto& channel : unit.channels) {
        auto location = chipmap.find(chipkey(unit.ruid, channel.ruchn));
        if (location != chipmap.end())
          channels.push_back({location->second.first, location->second.second, &channel.words});
      }
  return channels;
}

std::size_t count_hits(const std::vector<ChannelHits>& channels) {
  std::size_t hits = 0;
  for (const ChannelHits& channel : channels) hits += channel.words->size();
  return hits;
}

std::vector<std::vector<float>> limit_maps() { return std::vector<std::vector<float>>(NSTAVE, std::vector<float>(kMapCells)); }

void decode_and_increment(const std::vector<ChannelHits>& channels, std::vector<std::vector<float>>& maps) {
  for (const ChannelHits& channel : channels) {
    float* cells = maps[channel.stave].data();
    for (std::uint32_t word : *channel.words) {
      const unsigned col = channel.chip * 1024 + (word & 0xffff);
      const unsigned row = 511 - (word >> 16);
      if (col < 9216 && row < 512) cells[(row + 1) * kMapColumns + col + 1] += 1;
    }
  }
}

}  // namespace kivo::bench
