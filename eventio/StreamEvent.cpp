#include "StreamEvent.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <new>
#include <span>
#include <utility>
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
// The bits set in `x`, counted in registers: std::popcount is a library
// call on processors the build cannot assume an instruction for, and this
// count is taken for every channel asked.
inline std::uint32_t bits_set(std::uint32_t x) {
  x = x - ((x >> 1) & 0x55555555u);
  x = (x & 0x33333333u) + ((x >> 2) & 0x33333333u);
  x = (x + (x >> 4)) & 0x0F0F0F0Fu;
  return (x * 0x01010101u) >> 24;
}

struct PacketIndex {
  // Units below kSmallUnits with channels below kSmallChannels, the ones a
  // detector uses, are found through a bit mask per unit instead of a search.
  static constexpr std::uint32_t kSmallUnits = 8, kSmallChannels = 32;

  std::span<const std::uint32_t> words;     // the packet body
  std::span<const ChannelSlot> channels;    // sorted by key
  std::span<const std::uint32_t> units;     // ruid << 16 | channel count, sorted
  std::array<std::uint32_t, kSmallUnits> small_present;  // bit ruchn: channel present
  std::array<std::uint32_t, kSmallUnits> small_first;    // slot of the unit's first channel

  // Small channels of one unit are adjacent in the sorted slots and come first
  // in it, so the slot of one is its unit's first slot plus the number of
  // present channels below it. Built a unit at a time, with its mask in a
  // register.
  void fill_small_masks() {
    small_present = {};
    small_first = {};
    const ChannelSlot* slots = channels.data();
    const std::size_t count = channels.size();
    for (std::size_t i = 0; i < count && (slots[i].key >> 16) < kSmallUnits;) {
      const std::uint32_t ruid = slots[i].key >> 16;
      small_first[ruid] = static_cast<std::uint32_t>(i);
      std::uint32_t present = 0;
      for (; i < count && (slots[i].key >> 16) == ruid; ++i) {
        const std::uint32_t ruchn = slots[i].key & 0xFFFFu;
        if (ruchn < kSmallChannels) present |= 1u << ruchn;
      }
      small_present[ruid] = present;
    }
  }

  const ChannelSlot* find(std::uint32_t key) const {
    const std::uint32_t ruid = key >> 16, ruchn = key & 0xFFFFu;
    if (ruid < kSmallUnits && ruchn < kSmallChannels) {
      const std::uint32_t present = small_present[ruid];
      if (!(present >> ruchn & 1u)) return nullptr;
      return &channels[small_first[ruid] + bits_set(present & ((1u << ruchn) - 1))];
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

// A list that starts in a buffer of its own, on the stack where it is a local,
// and moves to the heap when that is full.
template <class T, std::size_t kOnStack>
class GrowingList {
 public:
  GrowingList() = default;
  GrowingList(const GrowingList&) = delete;
  GrowingList& operator=(const GrowingList&) = delete;

  T* data() { return data_; }
  std::size_t room() const { return room_; }
  // Doubles the room, keeping the first `count` entries; gives the new data
  // and room. Rare, and kept out of the walk's loop.
  [[gnu::noinline, gnu::cold]] T* grow(std::size_t count, std::size_t& room) {
    std::vector<T> bigger(room_ * 2);
    std::copy(data_, data_ + count, bigger.begin());
    heap_ = std::move(bigger);
    data_ = heap_.data();
    room = room_ = heap_.size();
    return data_;
  }

 private:
  std::array<T, kOnStack> stack_;
  std::vector<T> heap_;
  T* data_ = stack_.data();
  std::size_t room_ = kOnStack;
};

// The units (ruid << 16 | channel count) and channel slots of a packet body
// in stored order, and whether each list rises strictly, as writers store
// them, which also rules out duplicates. A local, so that a body of ordinary
// size allocates nothing but its index.
struct BodyLists {
  GrowingList<std::uint32_t, 16> units;
  GrowingList<ChannelSlot, 128> channels;
  std::size_t unit_count = 0, channel_count = 0;
  bool units_rising = true, channels_rising = true;
  // PacketIndex's masks of the small channels, right when the channels rise.
  std::array<std::uint32_t, PacketIndex::kSmallUnits> small_present{}, small_first{};
};

std::string channel_name(std::uint32_t ruid, std::uint32_t ruchn) {
  return "channel " + std::to_string(ruchn) + " of unit " + std::to_string(ruid);
}

bool body_error(std::string& error, std::string what) {
  error = std::move(what);
  return false;
}

// Walks the body of packet 2000 (unit count, then per unit: ruid, channel
// count, then per channel: ruchn, word count, words), checks that every count
// fits and every id is in range, and lists its units and channels. Its state
// stays in locals: the body's bytes may alias anything stored to memory.
bool check_body(const BodyWords& w, BodyLists& lists, std::string& error) {
  const std::size_t n = w.size();
  if (n < 1) return body_error(error, "packet 2000 has no unit count");
  std::uint32_t* unit_out = lists.units.data();
  ChannelSlot* channel_out = lists.channels.data();
  std::size_t unit_room = lists.units.room(), channel_room = lists.channels.room();
  const std::uint32_t unit_count = w[0];
  std::size_t pos = 1, units = 0, channels = 0;
  bool units_rising = true, channels_rising = true;
  for (std::uint32_t u = 0; u < unit_count; ++u) {
    if (n - pos < 2) return body_error(error, "packet 2000 ends inside unit " + std::to_string(u));
    const std::uint32_t ruid = w[pos], nchannels = w[pos + 1];
    pos += 2;
    if (ruid > kMaxUnitOrChannel) return body_error(error, "readout unit " + std::to_string(ruid) + " out of range");
    units_rising &= units == 0 || ruid > unit_out[units - 1] >> 16;
    if (units == unit_room) [[unlikely]] unit_out = lists.units.grow(units, unit_room);
    unit_out[units++] = channel_key(ruid, std::min<std::uint32_t>(nchannels, 0xFFFFu));
    const std::size_t first_channel = channels;
    std::uint32_t small_present = 0;
    for (std::uint32_t c = 0; c < nchannels; ++c) {
      if (n - pos < 2) return body_error(error, "packet 2000 ends inside unit " + std::to_string(ruid));
      const std::uint32_t ruchn = w[pos], nwords = w[pos + 1];
      pos += 2;
      if (ruchn > kMaxUnitOrChannel) return body_error(error, channel_name(ruid, ruchn) + " out of range");
      if (nwords > n - pos)
        return body_error(error, channel_name(ruid, ruchn) + " claims " + std::to_string(nwords) +
                                     " words beyond the packet");
      const std::uint32_t key = channel_key(ruid, ruchn);
      channels_rising &= channels == 0 || key > channel_out[channels - 1].key;
      if (channels == channel_room) [[unlikely]] channel_out = lists.channels.grow(channels, channel_room);
      channel_out[channels++] = {key, static_cast<std::uint32_t>(pos), static_cast<std::int32_t>(nwords)};
      // Bit ruchn for a small channel, none for another; without a branch.
      small_present |= static_cast<std::uint32_t>(ruchn < PacketIndex::kSmallChannels) << (ruchn & 31u);
      pos += nwords;
    }
    if (ruid < PacketIndex::kSmallUnits) {
      lists.small_present[ruid] = small_present;
      lists.small_first[ruid] = static_cast<std::uint32_t>(first_channel);
    }
  }
  if (pos != n) return body_error(error, "packet 2000 has " + std::to_string(n - pos) + " words after its last unit");
  lists.unit_count = units;
  lists.channel_count = channels;
  lists.units_rising = units_rising;
  lists.channels_rising = channels_rising;
  return true;
}

// Walks a body that check_body accepted: on_unit(ruid, channel_count) and
// on_channel(ruid, ruchn, word_offset, word_count) in stored order.
template <class OnUnit, class OnChannel>
void walk_checked_body(std::span<const std::uint32_t> w, OnUnit on_unit, OnChannel on_channel) {
  const std::uint32_t unit_count = w[0];
  std::size_t pos = 1;
  for (std::uint32_t u = 0; u < unit_count; ++u) {
    const std::uint32_t ruid = w[pos], nchannels = w[pos + 1];
    pos += 2;
    on_unit(ruid, nchannels);
    for (std::uint32_t c = 0; c < nchannels; ++c) {
      const std::uint32_t ruchn = w[pos], nwords = w[pos + 1];
      pos += 2;
      on_channel(ruid, ruchn, pos, nwords);
      pos += nwords;
    }
  }
}

template <class Entry, class Key>
bool sort_and_find_duplicate(std::span<Entry> entries, bool rising, Key key) {
  if (rising) return false;
  const auto by_key = [&](const Entry& a, const Entry& b) { return key(a) < key(b); };
  std::sort(entries.begin(), entries.end(), by_key);
  return std::adjacent_find(entries.begin(), entries.end(), [&](const Entry& a, const Entry& b) {
           return key(a) == key(b);
         }) != entries.end();
}

// Checks the body in one walk, then indexes it in one allocation sized
// exactly for its words, channels and units. Lists that came in rising order,
// as writers store them, need no sorting, and their walk has found the small
// channels' masks.
std::shared_ptr<const PacketIndex> index_packet(const std::uint8_t* body, std::size_t size,
                                                std::string& error) {
  const std::size_t nwords = size / 4;
  BodyLists lists;
  if (!check_body(BodyWords{body, nwords}, lists, error)) return nullptr;
  const std::size_t nchannels = lists.channel_count, nunits = lists.unit_count;
  const std::size_t bytes = sizeof(PacketIndex) + size + nchannels * sizeof(ChannelSlot) + nunits * 4;
  std::shared_ptr<std::uint64_t[]> block = std::make_shared_for_overwrite<std::uint64_t[]>((bytes + 7) / 8);
  auto* index = new (block.get()) PacketIndex;
  auto* words = reinterpret_cast<std::uint32_t*>(index + 1);
  auto* channels = reinterpret_cast<ChannelSlot*>(words + nwords);
  auto* units = reinterpret_cast<std::uint32_t*>(channels + nchannels);
  std::memcpy(words, body, size);
  std::memcpy(channels, lists.channels.data(), nchannels * sizeof(ChannelSlot));
  std::memcpy(units, lists.units.data(), nunits * 4);
  index->words = {words, nwords};
  index->channels = {channels, nchannels};
  index->units = {units, nunits};
  if (sort_and_find_duplicate(std::span(units, nunits), lists.units_rising,
                              [](std::uint32_t u) { return u >> 16; })) {
    error = "packet 2000 lists a readout unit twice";
    return nullptr;
  }
  if (sort_and_find_duplicate(std::span(channels, nchannels), lists.channels_rising,
                              [](const ChannelSlot& c) { return c.key; })) {
    error = "packet 2000 lists a channel twice";
    return nullptr;
  }
  if (lists.channels_rising) {
    index->small_present = lists.small_present;
    index->small_first = lists.small_first;
  } else {
    index->fill_small_masks();
  }
  return std::shared_ptr<const PacketIndex>(std::move(block), index);
}

// Packet 2000 of a StreamEvent. It remembers the channel selected last, so the
// count and word queries of one channel in a row cost a comparison each.
class StreamPacket final : public Packet {
 public:
  explicit StreamPacket(std::shared_ptr<const PacketIndex> index) : index_(std::move(index)) {}

  // A packet is made and deleted for every event: the memory of the last one
  // deleted on a thread is kept for the next.
  static void* operator new(std::size_t size) {
    if (void* kept = spare().take()) return kept;
    return ::operator new(size);
  }
  static void operator delete(void* memory) {
    if (!spare().keep(memory)) ::operator delete(memory);
  }

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
  class Spare {
   public:
    ~Spare() { ::operator delete(memory_); }
    void* take() { return std::exchange(memory_, nullptr); }
    bool keep(void* memory) {
      if (memory_) return false;
      memory_ = memory;
      return true;
    }

   private:
    void* memory_ = nullptr;
  };
  static Spare& spare() {
    thread_local Spare kept;
    return kept;
  }

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
  walk_checked_body(
      words,
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
