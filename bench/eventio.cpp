// Stream reading: every record of a simulated run read, CRC-checked and
// decoded into an Event with its packet 2000, against the format's own work
// done as plainly as the machine allows on the same file: read it, check each
// record's CRC-32C and walk each packet down to its hit words. Walking the
// packet the way the monitor does is measured by the "monitor events" path.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "Crc32c.h"
#include "StreamFormat.h"
#include "StreamReader.h"
#include "bench.h"
#include "sample_run.h"

namespace {

constexpr std::uint32_t kEvents = 20000;
// A pass takes milliseconds: enough of them that the reader's, a few times
// longer than the limit's, also finds an undisturbed stretch on a busy machine.
constexpr int kRuns = 40;

// A sum over every event's type, run and packet unit count, so that nothing
// the reader produced can be skipped.
std::uint64_t read_events(const std::string& path) {
  std::string error;
  auto reader = kivo::eventio::StreamReader::open(path, false, error);
  std::uint64_t sum = 0;
  if (!reader) return sum;
  while (auto event = reader->next()) {
    sum += static_cast<std::uint64_t>(event->getEvtType() + event->getRunNumber());
    const std::unique_ptr<Packet> packet(event->getPacket(2000));
    if (packet) sum += static_cast<std::uint64_t>(packet->iValue(1));
  }
  return sum;
}

// The words of one record's payload, walked with every length checked against
// what is left, as a reader that trusts none must.
class PayloadWalk {
 public:
  PayloadWalk(const std::uint32_t* words, std::size_t count) : at_(words), end_(words + count) {}

  // Adds the hit words of every packet 2000 to `hits`; false when a length
  // does not fit. The words themselves are left to the CRC, as a reader
  // leaves them to the monitor.
  bool packets(std::uint64_t& hits) {
    std::uint32_t type = 0, run = 0, sequence = 0, packet_count = 0;
    if (!take(type) || !take(run) || !take(sequence) || !take(packet_count)) return false;
    for (std::uint32_t p = 0; p < packet_count; ++p) {
      std::uint32_t id = 0, bytes = 0;
      if (!take(id) || !take(bytes) || bytes % 4 != 0 || bytes / 4 > left()) return false;
      const std::uint32_t* body_end = at_ + bytes / 4;
      if (id == kivo::eventio::kDetectorPacketId && !PayloadWalk(at_, bytes / 4).units(hits)) return false;
      at_ = body_end;
    }
    return at_ == end_;
  }

 private:
  // Units and channels must have ids in range and come in rising order, as
  // writers store them, which rules out duplicates (the reader sorts other
  // orders, which the simulated file does not have).
  bool units(std::uint64_t& hits) {
    std::uint32_t unit_count = 0;
    if (!take(unit_count)) return false;
    for (std::uint32_t u = 0, last_unit = 0; u < unit_count; ++u) {
      std::uint32_t ruid = 0, channel_count = 0;
      if (!take(ruid) || !take(channel_count) || !rising(ruid, u, last_unit)) return false;
      for (std::uint32_t c = 0, last_channel = 0; c < channel_count; ++c) {
        std::uint32_t ruchn = 0, word_count = 0;
        if (!take(ruchn) || !take(word_count) || !rising(ruchn, c, last_channel) || word_count > left())
          return false;
        hits += word_count;
        at_ += word_count;
      }
    }
    return at_ == end_;
  }

  static bool rising(std::uint32_t id, std::uint32_t index, std::uint32_t& last) {
    const bool fits = id <= kivo::eventio::kMaxUnitOrChannel && (index == 0 || id > last);
    last = id;
    return fits;
  }

  std::size_t left() const { return static_cast<std::size_t>(end_ - at_); }
  bool take(std::uint32_t& word) {
    if (at_ == end_) return false;
    word = *at_++;
    return true;
  }

  const std::uint32_t* at_;
  const std::uint32_t* end_;
};

// Reads the whole file into `words` (sized to it beforehand, so that no
// allocation is timed); false when it cannot.
bool read_file(const std::string& path, std::vector<std::uint32_t>& words) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  auto* out = reinterpret_cast<char*>(words.data());
  const std::size_t size = words.size() * 4;
  std::size_t done = 0;
  ssize_t n = 0;
  while (done < size && (n = ::read(fd, out + done, size - done)) > 0) done += static_cast<std::size_t>(n);
  ::close(fd);
  return done == size;
}

// The format's work on the file: each record's header checked, its payload's
// CRC-32C computed and compared, its packets walked. Returns the number of
// hit words, or 0 when something does not fit (the simulated file always fits).
std::uint64_t check_and_walk(const std::string& path, std::vector<std::uint32_t>& file) {
  namespace format = kivo::eventio;
  if (!read_file(path, file)) return 0;
  std::uint64_t hits = 0;
  std::size_t at = format::kFileHeaderSize / 4;
  while (at + format::kRecordHeaderSize / 4 <= file.size()) {
    const std::uint32_t* header = &file[at];
    const std::size_t payload_words = header[2] / 4;
    at += format::kRecordHeaderSize / 4;
    if (header[0] != format::kRecordMarker || header[1] != format::kFormatVersion ||
        header[2] < format::kMinPayloadSize || header[2] % 4 != 0 || payload_words > file.size() - at)
      return 0;
    if (format::crc32c(&file[at], header[2]) != header[3]) return 0;
    if (!PayloadWalk(&file[at], payload_words).packets(hits)) return 0;
    at += payload_words;
  }
  return hits;
}

kivo::bench::Result stream_read() {
  const std::string path = kivo::bench::write_temporary_stream(kivo::bench::simulate_run(kEvents));
  if (path.empty()) return {};
  const std::uintmax_t file_bytes = std::filesystem::file_size(path);
  const double megabytes = static_cast<double>(file_bytes) / 1e6;
  std::vector<std::uint32_t> file(file_bytes / 4);
  const bool walked = check_and_walk(path, file) != 0;  // both measurements start from the page cache
  double path_seconds = 0, limit_seconds = 0;
  kivo::bench::alternate_best_seconds(
      kRuns, [&] { kivo::bench::keep(read_events(path)); },
      [&] { kivo::bench::keep(check_and_walk(path, file)); }, path_seconds, limit_seconds);
  ::unlink(path.c_str());
  if (!walked) return {};
  return kivo::bench::rate_result(megabytes / path_seconds, "read, CRC-check and walk every packet",
                                  megabytes / limit_seconds, "MB/s", 0.5);
}

}  // namespace

KIVO_BENCH("stream read", "every record of a stream file read, checked and decoded into an Event", stream_read);
