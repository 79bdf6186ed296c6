// Reading streams: damaged records are reported with their offset and skipped
// without losing intact ones, followed files wait for whole records, and
// standard input is read without blocking.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "DiagnosticThrottle.h"
#include "StreamFormat.h"
#include "StreamReader.h"
#include "StreamWriter.h"
#include "eventio_test_support.h"

namespace kivo::eventio {
namespace {

using testing::CapturedDiagnostics;
using testing::ScratchDir;

std::vector<EventRecord> five_events() {
  std::vector<EventRecord> records;
  EventRecord begin;
  begin.type = kBeginRunEventType;
  begin.run = 3;
  records.push_back(begin);
  for (std::uint32_t i = 1; i < 5; ++i) records.push_back(testing::data_event(3, i, 1 + i, 10 * i, i));
  return records;
}

std::vector<std::uint32_t> read_sequences(StreamReader& reader) {
  std::vector<std::uint32_t> sequences;
  while (auto event = reader.next_stream_event()) sequences.push_back(event->sequence());
  return sequences;
}

std::unique_ptr<StreamReader> open_reader(const std::string& path, bool follow = false) {
  std::string error;
  auto reader = StreamReader::open(path, follow, error);
  EXPECT_NE(reader, nullptr) << error;
  return reader;
}

// Offset of record `index` (0-based) in stream_of(records).
std::size_t record_offset(const std::vector<EventRecord>& records, std::size_t index) {
  std::size_t offset = kFileHeaderSize;
  for (std::size_t i = 0; i < index; ++i) offset += encode_record(records[i]).size();
  return offset;
}

class StreamReading : public ::testing::Test {
 protected:
  ScratchDir dir_;
  CapturedDiagnostics diagnostics_;
  std::vector<EventRecord> records_ = five_events();
  std::string path_ = dir_.file("run.kevt");
};

TEST_F(StreamReading, IntactFileGivesEveryEventAndCounts) {
  const std::string bytes = testing::stream_of(records_);
  testing::write_file(path_, bytes);
  auto reader = open_reader(path_);
  std::vector<EventRecord> read;
  while (auto event = reader->next_stream_event()) read.push_back(event->record());
  EXPECT_EQ(read, records_);
  EXPECT_TRUE(reader->finished());
  EXPECT_EQ(reader->counters().records_read, 5u);
  EXPECT_EQ(reader->counters().records_rejected, 0u);
  EXPECT_EQ(reader->counters().bytes_read, bytes.size());
  EXPECT_EQ(reader->poll_fd(), -1);
  EXPECT_TRUE(diagnostics_.lines().empty()) << diagnostics_.joined();
}

// Several megabytes: records of many sizes fall across the pieces the file is
// read in, one record is larger than a megabyte, and a damaged record far into
// the file is reported at its own offset.
TEST_F(StreamReading, LongFileWithLargeRecordsGivesEveryEventInOrder) {
  std::vector<EventRecord> records = five_events();
  for (std::uint32_t i = 5; i < 3000; ++i) {
    EventRecord record = testing::data_event(3, i, 1 + i % 20, i % 512, i % 1024);
    const std::uint32_t extra = i == 1500 ? 300000 : i * 7 % 400;
    for (std::uint32_t k = 0; k < extra; ++k) record.add_word(1 + k % 3, k % 29, k);
    records.push_back(record);
  }
  std::string bytes = testing::stream_of(records);
  ASSERT_GT(bytes.size(), std::size_t{4} << 20);
  const std::size_t bad = record_offset(records, 2500);
  bytes[bad + kRecordHeaderSize + 20] ^= 0x40;
  testing::write_file(path_, bytes);
  auto reader = open_reader(path_);
  std::vector<EventRecord> read;
  while (auto event = reader->next_stream_event()) read.push_back(event->record());
  records.erase(records.begin() + 2500);
  EXPECT_EQ(read, records);
  EXPECT_EQ(reader->counters().bytes_read, bytes.size());
  ASSERT_EQ(diagnostics_.lines().size(), 1u) << diagnostics_.joined();
  EXPECT_EQ(diagnostics_.lines()[0],
            path_ + ": offset " + std::to_string(bad) + ": bad CRC-32C; skipping to the next record");
}

TEST_F(StreamReading, CorruptedMiddleRecordIsSkippedAndReported) {
  std::string bytes = testing::stream_of(records_);
  const std::size_t bad = record_offset(records_, 2);
  bytes[bad + kRecordHeaderSize + 20] ^= 0x40;  // payload byte: CRC no longer matches
  testing::write_file(path_, bytes);
  auto reader = open_reader(path_);
  EXPECT_EQ(read_sequences(*reader), (std::vector<std::uint32_t>{0, 1, 3, 4}));
  EXPECT_EQ(reader->counters().records_rejected, 1u);
  ASSERT_EQ(diagnostics_.lines().size(), 1u) << diagnostics_.joined();
  EXPECT_EQ(diagnostics_.lines()[0],
            path_ + ": offset " + std::to_string(bad) + ": bad CRC-32C; skipping to the next record");
}

TEST_F(StreamReading, ImpossibleLengthAndUnknownVersionAreSkipped) {
  std::string bytes = testing::stream_of(records_);
  const std::size_t first = record_offset(records_, 1), second = record_offset(records_, 3);
  bytes[first + 8 + 3] = 0x7F;  // payload length far beyond the limit
  bytes[second + 4] = 9;        // record version 9
  testing::write_file(path_, bytes);
  auto reader = open_reader(path_);
  EXPECT_EQ(read_sequences(*reader), (std::vector<std::uint32_t>{0, 2, 4}));
  EXPECT_EQ(reader->counters().records_rejected, 2u);
  const std::string all = diagnostics_.joined();
  EXPECT_NE(all.find("offset " + std::to_string(first) + ": impossible payload length"), std::string::npos) << all;
  EXPECT_NE(all.find("offset " + std::to_string(second) + ": unknown record version 9"), std::string::npos) << all;
}

TEST_F(StreamReading, GarbageBetweenRecordsIsSkippedOnce) {
  std::string bytes = testing::stream_of(records_);
  const std::size_t at = record_offset(records_, 2);
  bytes.insert(at, "garbage that is not a record");
  testing::write_file(path_, bytes);
  auto reader = open_reader(path_);
  EXPECT_EQ(read_sequences(*reader), (std::vector<std::uint32_t>{0, 1, 2, 3, 4}));
  EXPECT_EQ(reader->counters().records_rejected, 1u);
  ASSERT_EQ(diagnostics_.lines().size(), 1u);
  EXPECT_NE(diagnostics_.lines()[0].find("offset " + std::to_string(at) + ": no record marker"), std::string::npos);
}

// One to three stray bytes, some of them the start of a record marker or of
// the file header, cost no intact record: the scan finds the marker just behind.
TEST_F(StreamReading, StrayBytesBeforeARecordCostNoEvent) {
  for (std::size_t count = 1; count <= 3; ++count) {
    for (const std::string& stray : {std::string(count, '\0'), std::string("KEV").substr(0, count),
                                     std::string("KIV").substr(0, count), std::string(count, 'K'),
                                     std::string("\xff\x4b\x45").substr(0, count)}) {
      for (const std::size_t index : {std::size_t{1}, std::size_t{3}}) {
        std::string bytes = testing::stream_of(records_);
        bytes.insert(record_offset(records_, index), stray);
        testing::write_file(path_, bytes);
        auto reader = open_reader(path_);
        const std::string what = std::to_string(count) + " stray bytes before record " + std::to_string(index);
        EXPECT_EQ(read_sequences(*reader), (std::vector<std::uint32_t>{0, 1, 2, 3, 4})) << what;
        EXPECT_EQ(reader->counters().records_rejected, 1u) << what;
      }
    }
  }
}

TEST_F(StreamReading, TruncatedTailIsReportedAfterTheIntactRecords) {
  std::string bytes = testing::stream_of(records_);
  const std::size_t last = record_offset(records_, 4);
  bytes.resize(bytes.size() - 6);
  testing::write_file(path_, bytes);
  auto reader = open_reader(path_);
  EXPECT_EQ(read_sequences(*reader), (std::vector<std::uint32_t>{0, 1, 2, 3}));
  EXPECT_TRUE(reader->finished());
  EXPECT_EQ(reader->counters().records_rejected, 1u);
  ASSERT_EQ(diagnostics_.lines().size(), 1u);
  EXPECT_NE(diagnostics_.lines()[0].find(path_ + ": offset " + std::to_string(last) + ": truncated record"),
            std::string::npos)
      << diagnostics_.joined();
}

TEST_F(StreamReading, ConcatenatedStreamsReadAsOne) {
  testing::write_file(path_, testing::stream_of(records_) + testing::stream_of(records_));
  auto reader = open_reader(path_);
  EXPECT_EQ(read_sequences(*reader).size(), 10u);
  EXPECT_TRUE(diagnostics_.lines().empty()) << diagnostics_.joined();
}

TEST_F(StreamReading, StructurallyBadPayloadWithGoodCrcIsRejected) {
  EventRecord duplicate = testing::data_event(3, 1, 2, 1, 1);
  duplicate.units.push_back(duplicate.units[0]);  // unit 1 listed twice
  testing::write_file(path_, testing::stream_of({records_[0], duplicate, records_[2]}));
  auto reader = open_reader(path_);
  EXPECT_EQ(read_sequences(*reader), (std::vector<std::uint32_t>{0, 2}));
  EXPECT_EQ(reader->counters().records_rejected, 1u);
  ASSERT_EQ(diagnostics_.lines().size(), 1u);
  EXPECT_NE(diagnostics_.lines()[0].find("bad event: packet 2000 lists a readout unit twice"), std::string::npos);
}

TEST_F(StreamReading, FollowedFileWaitsForTheRestOfARecord) {
  const std::string header_and_first = testing::stream_of({records_[0]});
  const std::string second = encode_record(records_[1]);
  testing::write_file(path_, header_and_first + second.substr(0, 10));
  auto reader = open_reader(path_, true);
  auto first = reader->next_stream_event();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->sequence(), 0u);
  EXPECT_EQ(reader->next(), nullptr);
  EXPECT_FALSE(reader->finished());
  testing::append_file(path_, second.substr(10, 20));
  EXPECT_EQ(reader->next(), nullptr);
  testing::append_file(path_, second.substr(30));
  auto event = reader->next_stream_event();
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(event->record(), records_[1]);
  EXPECT_TRUE(diagnostics_.lines().empty()) << "a partial record while following is not an error";

  testing::append_file(path_, encode_record(records_[2]).substr(0, 7));
  EXPECT_EQ(reader->next(), nullptr);
  reader->stop_following();
  EXPECT_EQ(reader->next(), nullptr);
  EXPECT_TRUE(reader->finished());
  EXPECT_EQ(reader->counters().records_rejected, 1u) << "the unfinished record is a truncated tail";
}

// A writer that replaces the followed file (an atomic rename) or truncates it
// has started a new stream: it is read from its start, after what the replaced
// file still held, and a record the old content left unfinished is a truncated tail.
TEST_F(StreamReading, FollowedFileStartedOverIsReadFromTheStart) {
  const std::string first = testing::stream_of({records_[0], records_[1]}) + encode_record(records_[2]);
  testing::write_file(path_, first.substr(0, first.size() - 9));
  auto reader = open_reader(path_, true);
  EXPECT_EQ(read_sequences(*reader), (std::vector<std::uint32_t>{0, 1}));
  testing::append_file(path_, first.substr(first.size() - 9) + encode_record(records_[3]).substr(0, 9));
  testing::write_file(dir_.file("new.kevt"), testing::stream_of({records_[3], records_[4]}));
  std::filesystem::rename(dir_.file("new.kevt"), path_);
  EXPECT_EQ(read_sequences(*reader), (std::vector<std::uint32_t>{2, 3, 4}));
  testing::write_file(path_, testing::stream_of({records_[2]}));
  EXPECT_EQ(read_sequences(*reader), (std::vector<std::uint32_t>{2}));
  // Truncated and written again past the point read before the reader looks.
  testing::write_file(path_, testing::stream_of({records_[0], records_[1], records_[3]}));
  EXPECT_EQ(read_sequences(*reader), (std::vector<std::uint32_t>{0, 1, 3}));
  const std::string truncated = path_ + ": file truncated; reading it from the start (";
  EXPECT_EQ(diagnostics_.joined(), path_ + ": file replaced; reading it from the start (3 events read from it before)\n" +
                                       path_ + ": offset " + std::to_string(first.size()) +
                                       ": truncated record at end of data (9 of 16 bytes)\n" + truncated +
                                       "2 events read from it before)\n" + truncated + "1 event read from it before)\n");
}

std::vector<EventRecord> numbered_events(std::uint32_t count) {
  std::vector<EventRecord> records;
  for (std::uint32_t i = 0; i < count; ++i) records.push_back(testing::data_event(3, i, 1 + i % 20, i % 512, i % 1024));
  return records;
}

// Record `index` of stream_of(records) claims a payload of 64 MiB.
std::string with_damaged_length(const std::vector<EventRecord>& records, std::size_t index) {
  std::string bytes = testing::stream_of(records);
  const std::size_t at = record_offset(records, index) + 8;
  const std::uint32_t length = kMaxPayloadSize;
  std::memcpy(bytes.data() + at, &length, 4);
  return bytes;
}

// A length damaged to 64 MiB in a followed file: the records behind it have
// arrived, so the long record is damaged. The reader counts what a reader of
// the finished file counts, while the file is still followed.
TEST_F(StreamReading, FollowedFileWithADamagedLengthGoesOnAtTheNextValidRecord) {
  const std::vector<EventRecord> records = numbered_events(12);
  const std::string bytes = with_damaged_length(records, 4);
  const std::size_t damaged = record_offset(records, 4), after = record_offset(records, 7) + 5;
  testing::write_file(path_, bytes.substr(0, after));
  auto followed = open_reader(path_, true);
  EXPECT_EQ(read_sequences(*followed), (std::vector<std::uint32_t>{0, 1, 2, 3, 5, 6}));
  testing::append_file(path_, bytes.substr(after));
  EXPECT_EQ(read_sequences(*followed), (std::vector<std::uint32_t>{7, 8, 9, 10, 11}));
  EXPECT_FALSE(followed->finished());
  ASSERT_EQ(diagnostics_.lines().size(), 1u) << diagnostics_.joined();
  EXPECT_EQ(diagnostics_.lines()[0], path_ + ": offset " + std::to_string(damaged) + ": record claims " +
                                         std::to_string(kRecordHeaderSize + kMaxPayloadSize) +
                                         " bytes, but a valid record starts at offset " +
                                         std::to_string(record_offset(records, 5)) + "; skipping to the next record");

  auto finished = open_reader(path_);
  EXPECT_EQ(read_sequences(*finished).size(), 11u);
  EXPECT_EQ(followed->counters().records_read, finished->counters().records_read);
  EXPECT_EQ(followed->counters().records_rejected, finished->counters().records_rejected);
}

// Nothing valid behind a long record: the reader says once, after a few
// seconds, what it waits for.
TEST_F(StreamReading, RecordWaitingForItsBytesIsNamedOnce) {
  const std::vector<EventRecord> records = numbered_events(3);
  testing::write_file(path_, with_damaged_length(records, 2));
  auto reader = open_reader(path_, true);
  EXPECT_EQ(read_sequences(*reader), (std::vector<std::uint32_t>{0, 1}));
  const std::string waiting = path_ + ": offset " + std::to_string(record_offset(records, 2)) +
                              ": waiting for the rest of a record of " +
                              std::to_string(kRecordHeaderSize + kMaxPayloadSize) + " bytes (" +
                              std::to_string(encode_record(records[2]).size()) + " present)";
  for (int look = 0; look < 300 && diagnostics_.lines().empty(); ++look) {
    EXPECT_EQ(reader->next(), nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  for (int look = 0; look < 5; ++look) EXPECT_EQ(reader->next(), nullptr);
  EXPECT_EQ(diagnostics_.joined(), waiting + "\n");
}

// A writer that cuts back the record it was writing and goes on appending:
// the reader goes on after the last whole record it took, reads nothing twice
// and names the record cut off; cut back further, the file is read again
// from its start and the reader says how many events it had read from it.
TEST_F(StreamReading, FollowedFileCutBackGoesOnWithoutReadingAnythingTwice) {
  const std::vector<EventRecord> records = numbered_events(10);
  const std::string bytes = testing::stream_of(records);
  const std::size_t boundary = record_offset(records, 5);
  const std::string half = encode_record(testing::data_event(3, 99, 2, 2, 2)).substr(0, 30);
  testing::write_file(path_, bytes.substr(0, boundary) + half);
  auto reader = open_reader(path_, true);
  EXPECT_EQ(read_sequences(*reader), (std::vector<std::uint32_t>{0, 1, 2, 3, 4}));
  std::filesystem::resize_file(path_, boundary);
  testing::append_file(path_, bytes.substr(boundary));
  EXPECT_EQ(read_sequences(*reader), (std::vector<std::uint32_t>{5, 6, 7, 8, 9}));
  EXPECT_EQ(reader->counters().records_read, 10u);
  EXPECT_EQ(reader->counters().records_rejected, 0u);
  EXPECT_EQ(diagnostics_.joined(), path_ + ": offset " + std::to_string(boundary) +
                                       ": record cut off when the file was cut back (30 bytes of it read); "
                                       "reading on from here\n");

  std::filesystem::resize_file(path_, record_offset(records, 7) + 3);
  EXPECT_EQ(read_sequences(*reader), (std::vector<std::uint32_t>{0, 1, 2, 3, 4, 5, 6}));
  testing::append_file(path_, bytes.substr(record_offset(records, 7) + 3));
  EXPECT_EQ(read_sequences(*reader), (std::vector<std::uint32_t>{7, 8, 9}));
  EXPECT_NE(diagnostics_.joined().find(path_ + ": file truncated; reading it from the start (10 events read from it before)"),
            std::string::npos)
      << diagnostics_.joined();
}

// A megabyte of record markers appended to a followed file is a quarter of
// a million damaged records: a few are named, the rest are counted in one
// line, and the records behind them are all read.
TEST_F(StreamReading, AMegabyteOfDamageCostsAFewLines) {
  std::string marker(4, '\0');
  std::memcpy(marker.data(), &kRecordMarker, 4);
  std::string damage;
  for (int i = 0; i < (1 << 18); ++i) damage += marker;
  testing::write_file(path_, testing::stream_of({records_[0], records_[1]}));
  auto reader = open_reader(path_, true);
  EXPECT_EQ(read_sequences(*reader), (std::vector<std::uint32_t>{0, 1}));
  testing::append_file(path_, damage);
  for (std::size_t i = 2; i < records_.size(); ++i) testing::append_file(path_, encode_record(records_[i]));
  std::vector<std::uint32_t> sequences;
  for (int calls = 0; calls < 1000 && sequences.size() < 3; ++calls) {
    if (auto event = reader->next_stream_event()) sequences.push_back(event->sequence());
  }
  EXPECT_EQ(sequences, (std::vector<std::uint32_t>{2, 3, 4}));
  EXPECT_EQ(reader->counters().records_rejected, std::uint64_t{1} << 18);
  EXPECT_EQ(diagnostics_.lines().size(), std::size_t(DiagnosticThrottle::kShownPerKind)) << diagnostics_.joined();
  reader.reset();
  ASSERT_EQ(diagnostics_.lines().size(), std::size_t(DiagnosticThrottle::kShownPerKind) + 1);
  const std::string first = std::to_string(record_offset(records_, 2) + 4 * DiagnosticThrottle::kShownPerKind);
  const std::string last = std::to_string(record_offset(records_, 2) + damage.size() - 4);
  EXPECT_EQ(diagnostics_.lines().back(), path_ + ": offsets " + first + " to " + last + ": " +
                                             std::to_string((1 << 18) - DiagnosticThrottle::kShownPerKind) +
                                             " more like \"unknown record version 1414939979\"");
}

// Of each kind of problem, the first few of a minute are named as they come;
// the others are counted and told once the minute is over.
TEST(DiagnosticThrottleTest, EachKindHasAFewLinesAMinute) {
  CapturedDiagnostics captured;
  const auto t0 = DiagnosticThrottle::Clock::now();
  DiagnosticThrottle throttle("run.kevt");
  for (int i = 0; i < 6; ++i) throttle.report(100 + i, "bad CRC-32C; skipping", t0);
  throttle.report(200, "impossible payload length 17", t0);
  throttle.report(300, "impossible payload length 4000000", t0 + std::chrono::seconds(10));
  ASSERT_EQ(captured.lines().size(), 5u) << captured.joined();
  EXPECT_EQ(captured.lines()[3], "run.kevt: offset 200: impossible payload length 17");
  throttle.tick(t0 + std::chrono::seconds(59));
  EXPECT_EQ(captured.lines().size(), 5u) << "the minute is not over";
  throttle.tick(t0 + std::chrono::seconds(60));
  ASSERT_EQ(captured.lines().size(), 6u);
  EXPECT_EQ(captured.lines()[5], R"(run.kevt: offsets 103 to 105: 3 more like "bad CRC-32C; skipping")");
  throttle.report(400, "bad CRC-32C; skipping", t0 + std::chrono::seconds(61));
  EXPECT_EQ(captured.lines().back(), "run.kevt: offset 400: bad CRC-32C; skipping") << "a new minute";
}

// A followed file deleted while kivo reads it is said once; a new file of
// that name is read from its start.
TEST_F(StreamReading, DeletedFollowedFileIsSaidOnce) {
  testing::write_file(path_, testing::stream_of({records_[0], records_[1]}));
  auto reader = open_reader(path_, true);
  EXPECT_EQ(read_sequences(*reader), (std::vector<std::uint32_t>{0, 1}));
  EXPECT_FALSE(reader->deleted());
  std::filesystem::remove(path_);
  for (int look = 0; look < 5; ++look) EXPECT_EQ(reader->next(), nullptr);
  EXPECT_TRUE(reader->deleted());
  EXPECT_FALSE(reader->finished());
  EXPECT_EQ(diagnostics_.joined(), path_ + ": file deleted or moved away; reading on what its writer still adds, "
                                           "and a new file of this name from its start\n");
  testing::write_file(path_, testing::stream_of({records_[2]}));
  EXPECT_EQ(read_sequences(*reader), (std::vector<std::uint32_t>{2}));
  EXPECT_FALSE(reader->deleted());
}

// A long damaged region is skipped a bounded amount per call, so that the
// caller gets control back.
TEST_F(StreamReading, DataWithoutRecordsDoesNotHoldUpNext) {
  testing::write_file(path_, std::string(std::size_t{8} << 20, '\0') + testing::stream_of(records_));
  auto reader = open_reader(path_);
  EXPECT_EQ(reader->next(), nullptr);
  EXPECT_TRUE(reader->more_available());
  std::vector<std::uint32_t> sequences;
  for (int calls = 0; calls < 1000 && !reader->finished(); ++calls) {
    if (auto event = reader->next_stream_event()) sequences.push_back(event->sequence());
  }
  EXPECT_EQ(sequences, (std::vector<std::uint32_t>{0, 1, 2, 3, 4}));
}

TEST_F(StreamReading, UnopenablePathNamesItself) {
  std::string error;
  EXPECT_EQ(StreamReader::open(dir_.file("absent.kevt"), false, error), nullptr);
  EXPECT_EQ(error.rfind(dir_.file("absent.kevt") + ": ", 0), 0u) << error;
}

// Runs `body` with the read end of a pipe as standard input; the write end is given to `body`.
template <class Body>
void with_pipe_as_stdin(Body body) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const int saved = ::dup(STDIN_FILENO);
  ::dup2(fds[0], STDIN_FILENO);
  ::close(fds[0]);
  body(fds[1]);
  ::close(fds[1]);
  ::dup2(saved, STDIN_FILENO);
  ::close(saved);
}

TEST_F(StreamReading, StandardInputIsReadWithoutBlocking) {
  const std::string bytes = testing::stream_of(records_);
  with_pipe_as_stdin([&](int write_end) {
    auto reader = open_reader("-");
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->poll_fd(), STDIN_FILENO);
    EXPECT_EQ(reader->next(), nullptr) << "nothing written yet: no event, no waiting";
    EXPECT_FALSE(reader->finished());
    const std::size_t cut = record_offset(records_, 2) + 5;
    ASSERT_EQ(::write(write_end, bytes.data(), cut), static_cast<ssize_t>(cut));
    EXPECT_EQ(read_sequences(*reader), (std::vector<std::uint32_t>{0, 1}));
    ASSERT_EQ(::write(write_end, bytes.data() + cut, bytes.size() - cut), static_cast<ssize_t>(bytes.size() - cut));
    EXPECT_EQ(read_sequences(*reader), (std::vector<std::uint32_t>{2, 3, 4}));
    EXPECT_FALSE(reader->finished()) << "the writer may still send more";
    ::close(write_end);
    EXPECT_EQ(reader->next(), nullptr);
    EXPECT_TRUE(reader->finished());
    EXPECT_EQ(reader->path(), "-");
    reader.reset();
    EXPECT_EQ(::fcntl(STDIN_FILENO, F_GETFL) & O_NONBLOCK, 0) << "standard input is left as it was";
  });
  EXPECT_TRUE(diagnostics_.lines().empty()) << diagnostics_.joined();
}

TEST_F(StreamReading, WriterOutputAppearsOnlyOnClose) {
  std::string error;
  {
    auto writer = StreamWriter::open(path_, error);
    ASSERT_NE(writer, nullptr) << error;
    EXPECT_TRUE(writer->write(records_[0]));
  }
  EXPECT_FALSE(std::filesystem::exists(path_)) << "no close: nothing appears";
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(std::filesystem::path(path_).parent_path()),
                          std::filesystem::directory_iterator()),
            0)
      << "and no temporary file is left";

  auto writer = StreamWriter::open(path_, error);
  for (const EventRecord& record : records_) EXPECT_TRUE(writer->write(record));
  EXPECT_FALSE(std::filesystem::exists(path_));
  ASSERT_TRUE(writer->close(error)) << error;
  EXPECT_EQ(testing::read_file(path_), testing::stream_of(records_));
}

// Renaming a finished file over a link would replace the link, and over a
// device such as /dev/null the device: such paths are written through.
TEST_F(StreamReading, WriterWritesThroughASymbolicLink) {
  const std::string target = dir_.file("target.kevt"), link = dir_.file("link.kevt");
  std::filesystem::create_symlink(target, link);
  std::string error;
  auto writer = StreamWriter::open(link, error);
  ASSERT_NE(writer, nullptr) << error;
  for (const EventRecord& record : records_) EXPECT_TRUE(writer->write(record));
  ASSERT_TRUE(writer->close(error)) << error;
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(testing::read_file(target), testing::stream_of(records_));
}

TEST_F(StreamReading, WriterRefusesAnEventTooLargeForOneRecord) {
  EventRecord huge;
  huge.sequence = 7;
  huge.channel(1, 1).words.assign(kMaxPayloadSize / 4, 0);
  std::string error;
  auto writer = StreamWriter::open(path_, error);
  ASSERT_NE(writer, nullptr) << error;
  EXPECT_FALSE(writer->write(huge));
  EXPECT_FALSE(writer->close(error));
  EXPECT_EQ(error, path_ + ": event 7 is too large for one record (more than 64 MiB)");
  EXPECT_FALSE(std::filesystem::exists(path_));
}

TEST_F(StreamReading, WriterReportsAnUncreatablePath) {
  std::string error;
  EXPECT_EQ(StreamWriter::open(dir_.file("no/such/dir/run.kevt"), error), nullptr);
  EXPECT_NE(error.find("no/such/dir/run.kevt: "), std::string::npos) << error;
}

TEST_F(StreamReading, WriterRefusesATerminalAsStandardOutput) {
  int terminal = -1, screen = -1;
  ASSERT_EQ(::openpty(&terminal, &screen, nullptr, nullptr, nullptr), 0);
  std::fflush(stdout);
  const int saved = ::dup(STDOUT_FILENO);
  ::dup2(screen, STDOUT_FILENO);
  std::string error;
  const bool refused = StreamWriter::open("-", error) == nullptr;
  ::dup2(saved, STDOUT_FILENO);
  for (int fd : {saved, screen, terminal}) ::close(fd);
  EXPECT_TRUE(refused);
  EXPECT_EQ(error, "-: standard output is a terminal; give an output file or redirect it");
}

}  // namespace
}  // namespace kivo::eventio
