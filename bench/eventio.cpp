// Stream reading: every record of a simulated run read, CRC-checked and
// decoded into an Event with its packet 2000, against reading and summing the
// file's bytes. Walking the packet the way the monitor does is measured by
// the "monitor events" path.
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "StreamReader.h"
#include "bench.h"
#include "sample_run.h"

namespace {

constexpr std::uint32_t kEvents = 20000;
constexpr int kRuns = 5;

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

std::uint64_t read_and_sum(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  std::vector<std::uint32_t> buffer((std::size_t{1} << 20) / 4);
  std::uint64_t sum = 0;
  ssize_t n;
  while (fd >= 0 && (n = ::read(fd, buffer.data(), buffer.size() * 4)) > 0)
    for (std::size_t i = 0; i < static_cast<std::size_t>(n) / 4; ++i) sum += buffer[i];
  if (fd >= 0) ::close(fd);
  return sum;
}

kivo::bench::Result stream_read() {
  const std::string path = kivo::bench::write_temporary_stream(kivo::bench::simulate_run(kEvents));
  if (path.empty()) return {};
  const double megabytes = static_cast<double>(std::filesystem::file_size(path)) / 1e6;
  read_and_sum(path);  // both measurements start from the page cache
  const double path_seconds =
      kivo::bench::best_seconds(kRuns, [&] { kivo::bench::keep(read_events(path)); });
  const double limit_seconds =
      kivo::bench::best_seconds(kRuns, [&] { kivo::bench::keep(read_and_sum(path)); });
  ::unlink(path.c_str());
  return kivo::bench::rate_result(megabytes / path_seconds, "read and sum the file's bytes",
                                  megabytes / limit_seconds, "MB/s", 0.5);
}

}  // namespace

KIVO_BENCH("stream read", "every record of a stream file read, checked and decoded into an Event", stream_read);
