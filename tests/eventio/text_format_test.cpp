// The text form: what each line means, its errors, and the canonical output.
#include <gtest/gtest.h>

#include <sstream>

#include "StreamFormat.h"
#include "StreamReader.h"
#include "StreamWriter.h"
#include "TextFormat.h"
#include "eventio_test_support.h"

namespace kivo::eventio {
namespace {

std::vector<EventRecord> parse(const std::string& text) {
  std::istringstream in(text);
  std::vector<EventRecord> records;
  std::string error;
  EXPECT_TRUE(parse_text(in, records, error)) << error;
  return records;
}

std::string parse_error(const std::string& text) {
  std::istringstream in(text);
  std::vector<EventRecord> records;
  std::string error;
  EXPECT_FALSE(parse_text(in, records, error)) << text;
  return error;
}

std::string canonical(const std::vector<EventRecord>& records) {
  std::ostringstream out;
  write_text(out, records);
  return out.str();
}

TEST(TextForm, EachKeywordMakesItsEvent) {
  const auto records = parse(
      "# a run\n"
      "event nopacket\n"
      "run 7\n"
      "\n"
      "event   # trailing comment\n"
      "unit 4\n"
      "hit 1 3 511 1023\n"
      "word 1 3 0xDEADBEEF\n"
      "hit 2 1 0 5\n"
      "word 1 3 17\n"
      "type 5\n"
      "end 7\n");
  ASSERT_EQ(records.size(), 5u);
  EXPECT_EQ(records[0].type, 1);
  EXPECT_EQ(records[0].run, 0) << "before any run line";
  EXPECT_FALSE(records[0].has_packet);
  EXPECT_EQ(records[1].type, 9);
  EXPECT_EQ(records[1].run, 7);
  const EventRecord& data = records[2];
  EXPECT_EQ(data.type, 1);
  EXPECT_EQ(data.run, 7);
  EXPECT_TRUE(data.has_packet);
  ASSERT_EQ(data.units.size(), 3u);
  EXPECT_EQ(data.units[0].ruid, 4);
  EXPECT_TRUE(data.units[0].channels.empty());
  EXPECT_EQ(data.units[1].ruid, 1);
  ASSERT_EQ(data.units[1].channels.size(), 1u);
  EXPECT_EQ(data.units[1].channels[0].words, (std::vector<std::uint32_t>{511u << 16 | 1023u, 0xDEADBEEFu, 17u}));
  EXPECT_EQ(data.units[2].ruid, 2);
  EXPECT_EQ(records[3].type, 5);
  EXPECT_EQ(records[3].run, 7);
  EXPECT_EQ(records[4].type, 12);
  EXPECT_EQ(records[4].run, 7);
  for (std::uint32_t i = 0; i < records.size(); ++i) EXPECT_EQ(records[i].sequence, i);
}

TEST(TextForm, BadLinesNameTheirLineNumber) {
  EXPECT_EQ(parse_error("run 1\nevent\nhit 1 2 3\n"),
            "line 3: too few fields; expected 'hit R C ROW COL'");
  EXPECT_EQ(parse_error("run 1\nbogus 3\n"), "line 2: unknown keyword 'bogus'");
  EXPECT_EQ(parse_error("event\nunit 65536\n"), "line 2: readout unit '65536' is not a number in 0..65535");
  EXPECT_EQ(parse_error("event\nhit 1 2 3 70000\n"), "line 2: column '70000' is not a number in 0..65535");
  EXPECT_EQ(parse_error("event\nword 1 2 0x100000000\n"),
            "line 2: hit word '0x100000000' is not a number in 0..4294967295");
  EXPECT_EQ(parse_error("run x\n"), "line 1: run number 'x' is not a number in -2147483648..2147483647");
  EXPECT_EQ(parse_error("run 1\nhit 1 2 3 4\n"),
            "line 2: hit outside a data event (needs an 'event' line before it)");
  EXPECT_EQ(parse_error("event nopacket\nunit 1\n"),
            "line 2: unit outside a data event (needs an 'event' line before it)");
  EXPECT_EQ(parse_error("event packet\n"), "line 1: unexpected 'packet'; expected 'event' or 'event nopacket'");
  EXPECT_EQ(parse_error("end 1 2\n"), "line 1: too many fields; expected 'end N'");
  EXPECT_EQ(parse_error("event\nhit 1 2 -3 4\n"), "line 2: row '-3' is not a number in 0..65535");
}

TEST(TextForm, CanonicalOutputIsAFixedPoint) {
  const std::string text =
      "type 3\n"
      "run 2\n"
      "event\n"
      "unit 0\n"
      "hit 1 9 100 5\n"
      "hit 1 9 0 0\n"
      "word 1 28 0x80000001\n"
      "hit 2 1 511 1023\n"
      "event nopacket\n"
      "end 2\n";
  EXPECT_EQ(canonical(parse(text)), text);
}

TEST(TextForm, CanonicalOutputOrdersUnitsAndChannelsByFirstAppearance) {
  const auto records = parse("event\nhit 2 5 1 1\nhit 1 3 2 2\nhit 2 4 3 3\nhit 2 5 4 4\nword 1 1 600\n");
  EXPECT_EQ(canonical(records),
            "event\nhit 2 5 1 1\nhit 2 5 4 4\nhit 2 4 3 3\nhit 1 3 2 2\nhit 1 1 0 600\n");
}

TEST(TextForm, WordsOutsideAChipAreWrittenInHex) {
  EXPECT_EQ(canonical(parse("event\nhit 1 1 512 0\nhit 1 1 0 1024\n")),
            "event\nword 1 1 0x02000000\nword 1 1 0x00000400\n");
}

TEST(TextForm, LossIsDetectedForRecordsTheTextCannotHold) {
  EventRecord begin_with_packet;
  begin_with_packet.type = kBeginRunEventType;
  begin_with_packet.run = 8;
  begin_with_packet.add_word(1, 1, 1);
  EXPECT_EQ(text_form_loss(begin_with_packet, 0), "") << "'run 8 packet' says it";
  EventRecord other_run = testing::data_event(5, 0, 1, 1, 1);
  EXPECT_NE(text_form_loss(other_run, 4), "");
  EXPECT_EQ(text_form_loss(other_run, 5), "");
  EventRecord empty_channel = testing::data_event(0, 0, 1, 1, 1);
  empty_channel.channel(1, 7);
  EXPECT_EQ(text_form_loss(empty_channel, 0), "channel 7 of unit 1 has no hit words and is not written");
  EventRecord bare_unit;
  bare_unit.unit(3);
  EXPECT_EQ(text_form_loss(bare_unit, 0), "") << "'unit 3' says it";
}

// A packet on an event that is not a data event follows its line's "packet";
// the run numbers of begin-run and end-run events stay theirs.
TEST(TextForm, EventsOfAnyTypeCarryAPacket) {
  const std::string text =
      "run 7 packet\nhit 1 1 2 3\nunit 4\nevent\nhit 1 2 3 4\ntype 5 packet\nword 1 1 0xdeadbeef\n"
      "end 7 packet\nunit 2\nrun 8\nend 8 packet\n";
  const auto records = parse(text);
  ASSERT_EQ(records.size(), 6u);
  EXPECT_EQ(records[0].type, kBeginRunEventType);
  EXPECT_EQ(records[0].run, 7);
  EXPECT_TRUE(records[0].has_packet);
  EXPECT_EQ(records[0].units.size(), 2u);
  EXPECT_EQ(records[2].run, 7);
  EXPECT_EQ(records[3].run, 7);
  EXPECT_FALSE(records[4].has_packet);
  EXPECT_TRUE(records[5].has_packet);
  EXPECT_TRUE(records[5].units.empty());
  EXPECT_EQ(canonical(records), text);
  int current_run = 0;
  for (const EventRecord& record : records) {
    EXPECT_EQ(text_form_loss(record, current_run), "");
    if (record.type == kBeginRunEventType) current_run = record.run;
  }
  EXPECT_EQ(parse_error("run 1 nopacket\n"), "line 1: too many fields; expected 'run N'");
  EXPECT_EQ(parse_error("run 1\nunit 3\n"), "line 2: unit outside a data event (needs an 'event' line before it)");
}

TEST(TextForm, RoundTripThroughTheStream) {
  const std::string text =
      "run 11\nevent\nunit 3\nhit 1 1 10 20\nhit 1 1 11 21\nword 65535 65535 0xffffffff\n"
      "event nopacket\ntype 77\nevent\nend 11\n";
  const auto records = parse(text);
  testing::ScratchDir dir;
  const std::string path = dir.file("text.kevt");
  std::string error;
  auto writer = StreamWriter::open(path, error);
  for (const EventRecord& record : records) writer->write(record);
  ASSERT_TRUE(writer->close(error)) << error;

  auto reader = StreamReader::open(path, false, error);
  ASSERT_NE(reader, nullptr) << error;
  std::vector<EventRecord> read;
  while (auto event = reader->next_stream_event()) read.push_back(event->record());
  EXPECT_EQ(read, records);
  EXPECT_EQ(canonical(read), text);
}

}  // namespace
}  // namespace kivo::eventio
