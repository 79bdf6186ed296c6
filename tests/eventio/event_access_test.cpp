// The Event/Packet answers the monitor relies on, for in-memory events and for
// events read back from a stream file.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Crc32c.h"
#include "EventRecord.h"
#include "StreamReader.h"
#include "eventio_test_support.h"

namespace kivo::eventio {
namespace {

using testing::ScratchDir;

EventRecord sample_record() {
  EventRecord record;
  record.type = kDataEventType;
  record.run = 17;
  record.unit(3);  // present, no hits
  record.add_word(1, 5, 0x00640005);
  record.add_word(1, 5, 0x01FF03FF);
  record.add_word(1, 27, 0x80000001);  // bit 31 set
  record.add_word(2, 1, 7);
  record.add_word(65535, 65535, 42);
  return record;
}

std::unique_ptr<Event> read_back(const EventRecord& record, const ScratchDir& dir) {
  const std::string path = dir.file("one.kevt");
  testing::write_file(path, testing::stream_of({record}));
  std::string error;
  auto reader = StreamReader::open(path, false, error);
  EXPECT_NE(reader, nullptr) << error;
  return reader ? reader->next() : nullptr;
}

class EventAccess : public ::testing::TestWithParam<bool> {
 protected:
  std::unique_ptr<Event> event(const EventRecord& record) {
    return GetParam() ? read_back(record, dir_) : make_event(record);
  }
  ScratchDir dir_;
};

TEST_P(EventAccess, TypeAndRunNumber) {
  EventRecord record;
  record.type = kBeginRunEventType;
  record.run = 42;
  const auto e = event(record);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->getEvtType(), 9);
  EXPECT_EQ(e->getRunNumber(), 42);
}

TEST_P(EventAccess, MissingPacketAndOtherIdsGiveNull) {
  EventRecord without;
  const auto e = event(without);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->getPacket(2000), nullptr);

  const auto with = event(sample_record());
  EXPECT_EQ(with->getPacket(1999), nullptr);
  EXPECT_EQ(with->getPacket(-1), nullptr);
  std::unique_ptr<Packet> packet(with->getPacket(2000));
  EXPECT_NE(packet, nullptr);
}

TEST_P(EventAccess, UnitPresence) {
  const auto e = event(sample_record());
  std::unique_ptr<Packet> packet(e->getPacket(2000));
  ASSERT_NE(packet, nullptr);
  EXPECT_NE(packet->iValue(1), -1);
  EXPECT_NE(packet->iValue(3), -1) << "a unit without hits is present";
  EXPECT_NE(packet->iValue(65535), -1);
  EXPECT_EQ(packet->iValue(0), -1);
  EXPECT_EQ(packet->iValue(4), -1);
  EXPECT_EQ(packet->iValue(-1), -1);
  EXPECT_EQ(packet->iValue(65536), -1);
}

TEST_P(EventAccess, CountsAndWordsInOrder) {
  const auto e = event(sample_record());
  std::unique_ptr<Packet> packet(e->getPacket(2000));
  ASSERT_NE(packet, nullptr);
  EXPECT_EQ(packet->iValue(1, 5), 2);
  EXPECT_EQ(packet->iValue(1, 5, 0), 0x00640005);
  EXPECT_EQ(packet->iValue(1, 5, 1), 0x01FF03FF);
  EXPECT_EQ(packet->iValue(1, 27), 1);
  EXPECT_EQ(packet->iValue(1, 27, 0), static_cast<int>(0x80000001u));
  EXPECT_EQ(packet->iValue(2, 1, 0), 7);
  EXPECT_EQ(packet->iValue(65535, 65535, 0), 42);
  // Interleaved and backward queries give the same answers as a forward walk.
  EXPECT_EQ(packet->iValue(2, 1), 1);
  EXPECT_EQ(packet->iValue(1, 5, 1), 0x01FF03FF);
  EXPECT_EQ(packet->iValue(1, 27, 0), static_cast<int>(0x80000001u));
}

TEST_P(EventAccess, OutOfRangeIndexAndUnknownChannelsGiveZero) {
  const auto e = event(sample_record());
  std::unique_ptr<Packet> packet(e->getPacket(2000));
  ASSERT_NE(packet, nullptr);
  EXPECT_EQ(packet->iValue(1, 5, 2), 0);
  EXPECT_EQ(packet->iValue(1, 5, -1), 0);
  EXPECT_EQ(packet->iValue(1, 5, 1 << 30), 0);
  EXPECT_EQ(packet->iValue(1, 28), 0);
  EXPECT_EQ(packet->iValue(1, 28, 0), 0);
  EXPECT_EQ(packet->iValue(3, 0), 0) << "present unit, no channels";
  EXPECT_EQ(packet->iValue(0, 5), 0);
  EXPECT_EQ(packet->iValue(-1, 5, 0), 0);
  EXPECT_EQ(packet->iValue(1, 65536), 0);
  EXPECT_EQ(packet->iValue(1, -5, 0), 0);
}

TEST_P(EventAccess, MonitorWalkVisitsEveryWordOnce) {
  EventRecord record;
  for (int ruchn = 0; ruchn <= 28; ruchn += 3)
    for (int i = 0; i <= ruchn % 4; ++i) record.add_word(1, ruchn, static_cast<std::uint32_t>(ruchn * 100 + i));
  const auto e = event(record);
  std::unique_ptr<Packet> packet(e->getPacket(2000));
  ASSERT_NE(packet, nullptr);
  std::vector<int> seen;
  for (int ruid = 0; ruid <= 4; ++ruid) {
    if (packet->iValue(ruid) == -1) continue;
    for (int ruchn = 0; ruchn <= 28; ++ruchn)
      for (int i = 0; i < packet->iValue(ruid, ruchn); ++i) seen.push_back(packet->iValue(ruid, ruchn, i));
  }
  std::vector<int> expected;
  for (const ChannelWords& channel : record.units[0].channels)
    for (std::uint32_t word : channel.words) expected.push_back(static_cast<int>(word));
  EXPECT_EQ(seen, expected);
}

TEST_P(EventAccess, UnitsAndChannelsInAnyStoredOrder) {
  EventRecord record;
  for (const auto& [ruid, ruchn] : {std::pair{2, 20}, {2, 4}, {0, 31}, {2, 9}, {0, 0}, {7, 300}, {2, 40}})
    record.add_word(ruid, ruchn, static_cast<std::uint32_t>(ruid * 1000 + ruchn));
  const auto e = event(record);
  std::unique_ptr<Packet> packet(e->getPacket(2000));
  ASSERT_NE(packet, nullptr);
  EXPECT_EQ(packet->iValue(0), 2);
  EXPECT_EQ(packet->iValue(2), 4);
  EXPECT_EQ(packet->iValue(7), 1);
  for (const auto& [ruid, ruchn] : {std::pair{2, 20}, {2, 4}, {0, 31}, {2, 9}, {0, 0}, {7, 300}, {2, 40}}) {
    EXPECT_EQ(packet->iValue(ruid, ruchn), 1) << ruid << "/" << ruchn;
    EXPECT_EQ(packet->iValue(ruid, ruchn, 0), ruid * 1000 + ruchn) << ruid << "/" << ruchn;
  }
  EXPECT_EQ(packet->iValue(2, 5), 0);
  EXPECT_EQ(packet->iValue(0, 30), 0);
}

// Units below 8 with channels below 32 are looked up through masks, the
// others by search; both in rising order (as writers store them) and not, in
// packets of a few words and of many, with more units and channels than a
// packet usually has.
TEST_P(EventAccess, EveryChannelIsFoundWhateverItsIdsOrder) {
  std::vector<int> units = {0, 3, 7, 8, 400};
  for (int ruid = 500; ruid < 516; ++ruid) units.push_back(ruid);
  std::vector<std::pair<int, int>> channels;
  for (const int ruid : units)
    for (const int ruchn : {0, 1, 30, 31, 32, 33, 1000}) channels.emplace_back(ruid, ruchn);
  for (const bool rising : {true, false})
    for (const int words_each : {1, 40}) {
      EventRecord record;
      for (std::size_t k = 0; k < channels.size(); ++k) {
        const auto [ruid, ruchn] = channels[rising ? k : (k * 11) % channels.size()];
        for (int i = 0; i < words_each; ++i)
          record.add_word(ruid, ruchn, static_cast<std::uint32_t>(ruid * 10000 + ruchn * 10 + i % 10));
      }
      const auto e = event(record);
      std::unique_ptr<Packet> packet(e->getPacket(2000));
      ASSERT_NE(packet, nullptr);
      for (const auto& [ruid, ruchn] : channels) {
        SCOPED_TRACE(std::to_string(ruid) + "/" + std::to_string(ruchn) + (rising ? " rising" : " mixed"));
        EXPECT_EQ(packet->iValue(ruid), 7);
        EXPECT_EQ(packet->iValue(ruid, ruchn), words_each);
        EXPECT_EQ(packet->iValue(ruid, ruchn, words_each - 1), ruid * 10000 + ruchn * 10 + (words_each - 1) % 10);
        EXPECT_EQ(packet->iValue(ruid, ruchn + 2), ruchn == 30 || ruchn == 31 ? words_each : 0);
      }
    }
}

TEST_P(EventAccess, PacketOutlivesItsEvent) {
  auto e = event(sample_record());
  std::unique_ptr<Packet> packet(e->getPacket(2000));
  e.reset();
  EXPECT_EQ(packet->iValue(1, 5, 1), 0x01FF03FF);
}

INSTANTIATE_TEST_SUITE_P(InMemoryAndFromStream, EventAccess, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "FromStream" : "InMemory"; });

TEST(MakeEvent, RejectsAUnitOrChannelListedTwice) {
  // Channel 5 again right after itself, and again after a lower channel.
  for (const int between : {5, 3}) {
    EventRecord channel_twice;
    channel_twice.add_word(1, 5, 1);
    channel_twice.add_word(1, between, 2);
    channel_twice.units[0].channels.push_back({5, {3}});
    EXPECT_EQ(make_event(channel_twice), nullptr) << between;
  }
  EventRecord unit_twice;
  unit_twice.add_word(4, 1, 1);
  unit_twice.add_word(2, 1, 1);
  unit_twice.units.push_back({4, {}});
  EXPECT_EQ(make_event(unit_twice), nullptr);
}

TEST(MakeEvent, RejectsIdsOutsideTheStoredRange) {
  EventRecord record;
  record.add_word(70000, 1, 1);
  EXPECT_EQ(make_event(record), nullptr);
}

TEST(Crc32c, KnownCheckValues) {
  EXPECT_EQ(crc32c("123456789", 9), 0xE3069283u);
  EXPECT_EQ(crc32c("", 0), 0u);
  const std::string zeros(32, '\0');
  EXPECT_EQ(crc32c(zeros.data(), zeros.size()), 0x8A9136AAu);
}

// Bit by bit, straight from the polynomial: nothing shared with the fast paths.
std::uint32_t crc32c_bitwise(const unsigned char* p, std::size_t size) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < size; ++i) {
    crc ^= p[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ ((crc & 1u) ? 0x82F63B78u : 0u);
  }
  return ~crc;
}

// Lengths around every block size of the interleaved lanes, at every alignment.
TEST(Crc32c, AgreesWithTheBitwiseDefinitionAtEveryLengthAndAlignment) {
  std::vector<unsigned char> data(3 * 1024 * 2 + 64);
  std::uint32_t state = 12345;
  for (auto& byte : data) byte = static_cast<unsigned char>((state = state * 1103515245u + 12345u) >> 24);
  for (std::size_t size : {0, 1, 7, 8, 9, 191, 192, 193, 470, 575, 576, 3071, 3072, 3073, 3072 + 192 + 13,
                           6144, 6144 + 50})
    for (std::size_t offset = 0; offset < 8; ++offset)
      EXPECT_EQ(crc32c(data.data() + offset, size), crc32c_bitwise(data.data() + offset, size))
          << "size " << size << " offset " << offset;
}

}  // namespace
}  // namespace kivo::eventio
