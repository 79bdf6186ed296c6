#include "test_support.h"

#include <fstream>
#include <sstream>
#include <unistd.h>

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

}  // namespace kivo::eventio::testing
