#include "StreamEvent.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory_resource>
#include <new>
#include <span>
#include <vector>

#include "StreamFormat.h"

static_assert(std::endian::native == std::endian::little,
              "payload words are read as they are in memory");

namespace kivo::eventio {

// One channel of packet 2000: where its words start in PacketIndex::words.
struct ChannelSlot {
  std::uint32_t key;  // ruid << 16 | ruchn
  std::uint32_t offset;
  std::int32_t count;
};

// Packet 2000 as stored, with its channels and units sorted for lookup. The
// three arrays live in the same allocation as this header (see index_packet).
struct PacketIndex {
  // Units below kSmallUnits with channels below kSmallChannels, the ones a
  // detector uses, are found through a bit mask per unit instead of a search.
  static constexpr std::uint32_t kSmallUnits = 8, kSmallChannels = 32;

  std::span<const std::uint32_t> words;     // the packet body
  std::span<const ChannelSlot> channels;    // sorted by key
  std::span<const std::uint32_t> units;     // ruid << 16 | channel count, sorted
  std::array<std::uint32_t, kSmallUnits> small_present;  // bit ruchn: channel present
  std::array<std::uint32_t, kSmallUnits> small_first;    // slot of the unit's first channel
  // Of a present small channel: the number of present channels below it in
  // its unit (entries of absent channels are never read, nor written).
  std::array<std::array<std::uint8_t, kSmallChannels>, kSmallUnits> small_rank;

  // Small channels of one unit are adjacent in the sorted slots, so the slot of
  // one is its unit's first slot plus its rank. Built a unit at a time, with
  // its mask in a register.
  void fill_small_masks() {
    small_present = {};
    small_first = {};
    const ChannelSlot* slots = channels.data();
    const std::size_t count = channels.size();
    for (std::size_t i = 0; i < count && (slots[i].key >> 16) < kSmallUnits;) {
      const std::uint32_t ruid = slots[i].key >> 16;
      const std::size_t first = i;
      std::uint32_t present = 0;
      for (; i < count && (slots[i].key >> 16) == ruid; ++i) {
        const std::uint32_t ruchn = slots[i].key & 0xFFFFu;
        if (ruchn >= kSmallChannels) continue;
        small_rank[ruid][ruchn] = static_cast<std::uint8_t>(i - first);
        present |= 1u << ruchn;
      }
      small_present[ruid] = present;
      small_first[ruid] = static_cast<std::uint32_t>(first);
    }
  }

  const ChannelSlot* find(std::uint32_t key) const {
    const std::uint32_t ruid = key >> 16, ruchn = key & 0xFFFFu;
    if (ruid < kSmallUnits && ruchn < kSmallChannels) {
      if (!(small_present[ruid] >> ruchn & 1u)) return nullptr;
      return &channels[small_first[ruid] + small_rank[ruid][ruchn]];
    }
    const auto it = std::lower_bound(channels.begin(), channels.end(), key,
                                     [](const ChannelSlot& c, std::uint32_t k) { return c.key < k; });
    return it != channels.end() && it->key == key ? &*it : nullptr;
  }
};

namespace {

constexpr std::uint32_t channel_key(std::uint32_t ruid, std::uint32_t ruchn) {
  return ruid << 16 | ruchn;
}

bool out_of_id_range(int ruid, int ruchn) {
  return (static_cast<unsigned>(ruid) | static_cast<unsigned>(ruchn)) > kMaxUnitOrChannel;
}

// Walks the body of packet 2000 (unit count, then per unit: ruid, channel count,
// then per channel: ruchn, word count, words) and checks that every count fits.
// on_unit(ruid, channel_count) and on_channel(ruid, ruchn, word_offset, word_count).
// `w` is a span of words or anything else with size() and operator[].
template <class Words, class OnUnit, class OnChannel>
bool walk_packet_body(const Words& w, std::string& error, OnUnit on_unit, OnChannel on_channel) {
  const std::size_t n = w.size();
  if (n < 1) {
    error = "packet 2000 has no unit count";
    return false;
  }
  std::size_t pos = 1;
  for (std::uint32_t u = 0; u < w[0]; ++u) {
    if (n - pos < 2) {
      error = "packet 2000 ends inside unit " + std::to_string(u);
      return false;
    }
    const std::uint32_t ruid = w[pos], nchannels = w[pos + 1];
    pos += 2;
    if (ruid > kMaxUnitOrChannel) {
      error = "readout unit " + std::to_string(ruid) + " out of range";
      return false;
    }
    on_unit(ruid, nchannels);
    for (std::uint32_t c = 0; c < nchannels; ++c) {
      if (n - pos < 2) {
        error = "packet 2000 ends inside unit " + std::to_string(ruid);
        return false;
      }
      const std::uint32_t ruchn = w[pos], nwords = w[pos + 1];
      pos += 2;
      if (ruchn > kMaxUnitOrChannel) {
        error = "channel " + std::to_string(ruchn) + " of unit " + std::to_string(ruid) +
                " out of range";
        return false;
      }
      if (nwords > n - pos) {
        error = "channel " + std::to_string(ruchn) + " of unit " + std::to_string(ruid) +
                " claims " + std::to_string(nwords) + " words beyond the packet";
        return false;
      }
      on_channel(ruid, ruchn, pos, nwords);
      pos += nwords;
    }
  }
  if (pos != n) {
    error = "packet 2000 has " + std::to_string(n - pos) + " words after its last unit";
    return false;
  }
  return true;
}

std::uint32_t read_u32(const std::uint8_t* p) {
  std::uint32_t value;
  std::memcpy(&value, p, 4);
  return value;
}

// The words of a packet body as they lie in the record, read without
// assuming their alignment.
struct BodyWords {
  const std::uint8_t* bytes;
  std::size_t count;

  std::size_t size() const { return count; }
  std::uint32_t operator[](std::size_t i) const { return read_u32(bytes + 4 * i); }
};

// Channels and units of a packet as the walk meets them, and whether each
// list came in strictly rising order, which also rules out duplicates. Held on
// the stack for packets of ordinary size.
struct PacketScratch {
  PacketScratch() {
    channels.reserve(128);
    units.reserve(16);
  }

  void add_unit(std::uint32_t ruid, std::uint32_t count) {
    const std::uint32_t entry = channel_key(ruid, std::min<std::uint32_t>(count, 0xFFFFu));
    units_rising &= units.empty() || entry >> 16 > units.back() >> 16;
    units.push_back(entry);
  }
  void add_channel(std::uint32_t key, std::size_t offset, std::uint32_t count) {
    channels_rising &= channels.empty() || key > channels.back().key;
    channels.push_back({key, static_cast<std::uint32_t>(offset), static_cast<std::int32_t>(count)});
  }

  alignas(8) std::array<std::byte, 2048> buffer;
  std::pmr::monotonic_buffer_resource resource{buffer.data(), buffer.size()};
  std::pmr::vector<ChannelSlot> channels{&resource};
  std::pmr::vector<std::uint32_t> units{&resource};
  bool channels_rising = true, units_rising = true;
};

template <class Entry, class Key>
bool sort_and_find_duplicate(std::span<Entry> entries, bool rising, Key key) {
  if (rising) return false;
  const auto by_key = [&](const Entry& a, const Entry& b) { return key(a) < key(b); };
  std::sort(entries.begin(), entries.end(), by_key);
  return std::adjacent_find(entries.begin(), entries.end(), [&](const Entry& a, const Entry& b) {
           return key(a) == key(b);
         }) != entries.end();
}

// Checks the body in one walk, then indexes it in one allocation sized exactly
// for its words, channels and units. Lists that came in rising order, as
// writers store them, need no sorting.
std::shared_ptr<const PacketIndex> index_packet(const std::uint8_t* body, std::size_t size,
                                                std::string& error) {
  const std::size_t nwords = size / 4;
  PacketScratch scratch;
  if (!walk_packet_body(
          BodyWords{body, nwords}, error,
          [&](std::uint32_t ruid, std::uint32_t count) { scratch.add_unit(ruid, count); },
          [&](std::uint32_t ruid, std::uint32_t ruchn, std::size_t offset, std::uint32_t count) {
            scratch.add_channel(channel_key(ruid, ruchn), offset, count);
          }))
    return nullptr;
  if (sort_and_find_duplicate(std::span(scratch.units), scratch.units_rising,
                              [](std::uint32_t u) { return u >> 16; })) {
    error = "packet 2000 lists a readout unit twice";
    return nullptr;
  }
  if (sort_and_find_duplicate(std::span(scratch.channels), scratch.channels_rising,
                              [](const ChannelSlot& c) { return c.key; })) {
    error = "packet 2000 lists a channel twice";
    return nullptr;
  }
  const std::size_t nchannels = scratch.channels.size(), nunits = scratch.units.size();
  const std::size_t bytes = sizeof(PacketIndex) + size + nchannels * sizeof(ChannelSlot) + nunits * 4;
  std::shared_ptr<std::uint64_t[]> block = std::make_shared_for_overwrite<std::uint64_t[]>((bytes + 7) / 8);
  auto* index = new (block.get()) PacketIndex;
  auto* words = reinterpret_cast<std::uint32_t*>(index + 1);
  auto* channels = reinterpret_cast<ChannelSlot*>(words + nwords);
  auto* units = reinterpret_cast<std::uint32_t*>(channels + nchannels);
  std::memcpy(words, body, size);
  std::copy(scratch.channels.begin(), scratch.channels.end(), channels);
  std::copy(scratch.units.begin(), scratch.units.end(), units);
  index->words = {words, nwords};
  index->channels = {channels, nchannels};
  index->units = {units, nunits};
  index->fill_small_masks();
  return std::shared_ptr<const PacketIndex>(std::move(block), index);
}

// Packet 2000 of a StreamEvent. It remembers the channel selected last, so the
// count and word queries of one channel in a row cost a comparison each.
class StreamPacket final : public Packet {
 public:
  explicit StreamPacket(std::shared_ptr<const PacketIndex> index) : index_(std::move(index)) {}

  int iValue(int ruid) override {
    if (static_cast<unsigned>(ruid) > kMaxUnitOrChannel) return -1;
    const auto units = index_->units;
    const std::uint32_t first = channel_key(static_cast<std::uint32_t>(ruid), 0);
    const auto it = std::lower_bound(units.begin(), units.end(), first);
    if (it == units.end() || (*it >> 16) != static_cast<std::uint32_t>(ruid)) return -1;
    return static_cast<int>(*it & 0xFFFFu);
  }

  int iValue(int ruid, int ruchn) override {
    if (out_of_id_range(ruid, ruchn)) return 0;
    select(channel_key(static_cast<std::uint32_t>(ruid), static_cast<std::uint32_t>(ruchn)));
    return count_;
  }

  int iValue(int ruid, int ruchn, int i) override {
    if (out_of_id_range(ruid, ruchn)) return 0;
    select(channel_key(static_cast<std::uint32_t>(ruid), static_cast<std::uint32_t>(ruchn)));
    return static_cast<unsigned>(i) < static_cast<unsigned>(count_)
               ? static_cast<int>(words_[i])
               : 0;
  }

 private:
  void select(std::uint32_t key) {
    if (key == selected_key_) return;
    selected_key_ = key;
    const ChannelSlot* slot = index_->find(key);
    words_ = slot ? index_->words.data() + slot->offset : nullptr;
    count_ = slot ? slot->count : 0;
  }

  std::shared_ptr<const PacketIndex> index_;
  std::uint64_t selected_key_ = ~std::uint64_t{0};
  const std::uint32_t* words_ = nullptr;
  std::int32_t count_ = 0;
};

}  // namespace

std::unique_ptr<StreamEvent> StreamEvent::decode(const std::uint8_t* payload, std::size_t size,
                                                 std::string& error) {
  if (size < kMinPayloadSize || size % 4 != 0) {
    error = "payload of " + std::to_string(size) + " bytes is not a whole event";
    return nullptr;
  }
  std::unique_ptr<StreamEvent> event(new StreamEvent);
  event->type_ = static_cast<int>(read_u32(payload));
  event->run_ = static_cast<int>(read_u32(payload + 4));
  event->sequence_ = read_u32(payload + 8);
  const std::uint32_t npackets = read_u32(payload + 12);
  std::size_t pos = kMinPayloadSize;
  for (std::uint32_t p = 0; p < npackets; ++p) {
    if (size - pos < 8) {
      error = "payload ends inside packet header " + std::to_string(p);
      return nullptr;
    }
    const std::uint32_t id = read_u32(payload + pos), length = read_u32(payload + pos + 4);
    pos += 8;
    if (length % 4 != 0 || length > size - pos) {
      error = "packet " + std::to_string(id) + " has impossible length " + std::to_string(length);
      return nullptr;
    }
    if (id == static_cast<std::uint32_t>(kDetectorPacketId)) {
      if (event->packet_) {
        error = "packet 2000 appears twice";
        return nullptr;
      }
      event->packet_ = index_packet(payload + pos, length, error);
      if (!event->packet_) return nullptr;
    } else {
      ++event->other_packets_;
    }
    pos += length;
  }
  if (pos != size) {
    error = std::to_string(size - pos) + " bytes after the last packet";
    return nullptr;
  }
  return event;
}

Packet* StreamEvent::getPacket(int id) {
  if (id != kDetectorPacketId || !packet_) return nullptr;
  return new StreamPacket(packet_);
}

EventRecord StreamEvent::record() const {
  EventRecord record;
  record.type = type_;
  record.run = run_;
  record.sequence = sequence_;
  record.has_packet = packet_ != nullptr;
  if (!packet_) return record;
  const auto words = packet_->words;
  std::string unused;
  walk_packet_body(
      words, unused,
      [&](std::uint32_t ruid, std::uint32_t) {
        record.units.push_back({static_cast<int>(ruid), {}});
      },
      [&](std::uint32_t, std::uint32_t ruchn, std::size_t offset, std::uint32_t nwords) {
        record.units.back().channels.push_back(
            {static_cast<int>(ruchn), std::vector<std::uint32_t>(words.begin() + offset,
                                                                 words.begin() + offset + nwords)});
      });
  return record;
}

}  // namespace kivo::eventio
