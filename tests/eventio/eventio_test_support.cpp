#include "eventio_test_support.h"

#include <cstring>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "Crc32c.h"
#include "StreamFormat.h"

namespace kivo::eventio::testing {

ScratchDir::ScratchDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "kivo-eventio-XXXXXX").string();
  path_ = ::mkdtemp(pattern.data());
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

CapturedDiagnostics::CapturedDiagnostics()
    : previous_(set_diagnostic_sink([this](const std::string& line) { lines_.push_back(line); })) {}

CapturedDiagnostics::~CapturedDiagnostics() { set_diagnostic_sink(previous_); }

std::string CapturedDiagnostics::joined() const {
  std::string all;
  for (const std::string& line : lines_) all += line + "\n";
  return all;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

void append_file(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::app) << bytes;
}

EventRecord data_event(int run, std::uint32_t sequence, int ruchn, int row, int col) {
  EventRecord record;
  record.run = run;
  record.sequence = sequence;
  record.add_word(1, ruchn, static_cast<std::uint32_t>(row) << 16 | static_cast<std::uint32_t>(col));
  return record;
}

std::string stream_of(const std::vector<EventRecord>& records) {
  std::string bytes = encode_file_header();
  for (const EventRecord& record : records) append_record(bytes, record);
  return bytes;
}

std::string record_with_packets(const EventRecord& record, const std::vector<std::uint32_t>& other_ids) {
  std::string bytes = encode_record(record);
  const auto patch = [&](std::size_t pos, std::uint32_t value) { std::memcpy(&bytes[pos], &value, 4); };
  std::uint32_t packets = 0;
  std::memcpy(&packets, &bytes[kRecordHeaderSize + 12], 4);
  patch(kRecordHeaderSize + 12, packets + static_cast<std::uint32_t>(other_ids.size()));
  for (std::uint32_t id : other_ids) {
    const std::uint32_t packet[] = {id, 4, 0xDEADBEEF};
    bytes.append(reinterpret_cast<const char*>(packet), sizeof packet);
  }
  const std::size_t payload = bytes.size() - kRecordHeaderSize;
  patch(8, static_cast<std::uint32_t>(payload));
  patch(12, crc32c(bytes.data() + kRecordHeaderSize, payload));
  return bytes;
}

}  // namespace kivo::eventio::testing
