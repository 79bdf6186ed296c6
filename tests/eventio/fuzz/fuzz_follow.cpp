// libFuzzer target: a followed file that a writer changes between reads. The
// input is a script of steps: append bytes, append a valid record, repeat the
// file's tail until it is longer than the reader's buffer compaction threshold,
// cut the file back, replace it by a new file, and read. Nothing may crash or
// read out of bounds (the events themselves are checked by fuzz_stream_reader);
// when the writer only appended, the followed reader must give the events and
// counts of a reader of the finished file.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "Diagnostics.h"
#include "StreamFormat.h"
#include "StreamReader.h"
#include "fuzz_check.h"

namespace {

using kivo::eventio::EventRecord;
using kivo::eventio::StreamReader;
using kivo::fuzz::check;

constexpr std::size_t kLongFile = std::size_t{300} << 10;

class Script {
 public:
  Script(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool done() const { return at_ >= size_; }
  std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
  std::string bytes(std::size_t count) {
    count = std::min(count, size_ - at_);
    std::string text(reinterpret_cast<const char*>(data_ + at_), count);
    at_ += count;
    return text;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

const std::string& scratch_directory() {
  static const std::string directory = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "kivo-fuzz-follow-XXXXXX").string();
    return std::string(mkdtemp(pattern.data()));
  }();
  return directory;
}

void write_at_end(const std::string& path, const std::string& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  check(fd >= 0);
  check(::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()));
  ::close(fd);
}

std::string file_bytes(const std::string& path) {
  std::string bytes;
  std::FILE* in = std::fopen(path.c_str(), "rb");
  char buffer[65536];
  for (std::size_t got; in && (got = std::fread(buffer, 1, sizeof buffer, in)) > 0;) bytes.append(buffer, got);
  if (in) std::fclose(in);
  return bytes;
}

EventRecord small_event(Script& script) {
  EventRecord record;
  record.type = script.byte() % 3 == 0 ? kivo::eventio::kBeginRunEventType : kivo::eventio::kDataEventType;
  record.run = script.byte();
  record.sequence = script.byte();
  for (int hits = script.byte() % 8; hits > 0; --hits) record.add_word(script.byte() % 4, script.byte() % 28, script.byte());
  return record;
}

// A valid record, or one whose length claims more bytes than it has.
std::string record_maybe_too_long(Script& script) {
  const std::uint8_t longer = script.byte();
  std::string bytes = kivo::eventio::encode_record(small_event(script));
  if (longer % 2 == 1) {
    std::uint32_t length = 0;
    std::memcpy(&length, bytes.data() + 8, 4);
    length += 4 * (longer < 128 ? longer : 65536u * longer);
    std::memcpy(bytes.data() + 8, &length, 4);
  }
  return bytes;
}

std::vector<EventRecord> read_available(StreamReader& reader) {
  std::vector<EventRecord> records;
  for (int calls = 0; calls < 64; ++calls) {
    auto event = reader.next_stream_event();
    if (!event && !reader.more_available()) break;
    if (event) records.push_back(event->record());
  }
  return records;
}

// Runs the script against a followed file; false when the writer ever cut
// back or replaced the file.
bool follow(Script& script, const std::string& path, StreamReader& reader, std::vector<EventRecord>& read) {
  bool only_appended = true;
  while (!script.done()) {
    const std::uint8_t step = script.byte();
    switch (step % 8) {
      case 0:
      case 1:
        write_at_end(path, script.bytes(1 + script.byte()));
        break;
      case 2:
        write_at_end(path, record_maybe_too_long(script));
        break;
      case 3: {
        const std::string bytes = file_bytes(path);
        const std::string tail = bytes.substr(bytes.size() - std::min<std::size_t>(bytes.size(), 1 + script.byte() * 16));
        for (std::string more; !tail.empty() && bytes.size() + more.size() < kLongFile;) {
          more += tail;
          if (bytes.size() + more.size() >= kLongFile) write_at_end(path, more);
        }
        break;
      }
      case 4: {
        // Cut back to a fraction of the file, or cut off its last bytes.
        const auto size = std::filesystem::file_size(path);
        const std::uint8_t cut = script.byte();
        std::filesystem::resize_file(path, cut < 128 ? size * cut / 128 : size - std::min<std::uintmax_t>(size, cut - 127));
        only_appended = false;
        break;
      }
      case 5: {
        const std::string replacement = path + ".new";
        std::filesystem::remove(replacement);
        write_at_end(replacement, kivo::eventio::encode_file_header() + script.bytes(script.byte()));
        std::filesystem::rename(replacement, path);
        only_appended = false;
        break;
      }
      default: {
        const std::vector<EventRecord> more = read_available(reader);
        read.insert(read.end(), more.begin(), more.end());
      }
    }
  }
  return only_appended;
}

std::vector<EventRecord> drain(StreamReader& reader) {
  std::vector<EventRecord> records;
  for (int calls = 0; calls < 1000000 && !reader.finished(); ++calls) {
    if (auto event = reader.next_stream_event()) records.push_back(event->record());
  }
  check(reader.finished());
  return records;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const auto silenced = kivo::eventio::set_diagnostic_sink([](const std::string&) {});
  (void)silenced;
  const std::string path = scratch_directory() + "/followed.kevt";
  std::filesystem::remove(path);
  write_at_end(path, kivo::eventio::encode_file_header());
  std::string error;
  auto reader = StreamReader::open(path, true, error);
  check(reader != nullptr);
  Script script(data, size);
  std::vector<EventRecord> read;
  const bool only_appended = follow(script, path, *reader, read);
  reader->stop_following();
  const std::vector<EventRecord> rest = drain(*reader);
  read.insert(read.end(), rest.begin(), rest.end());
  if (!only_appended) return 0;
  auto finished = StreamReader::open(path, false, error);
  check(finished != nullptr);
  check(drain(*finished) == read);
  check(finished->counters().records_read == reader->counters().records_read);
  check(finished->counters().records_rejected == reader->counters().records_rejected);
  return 0;
}
