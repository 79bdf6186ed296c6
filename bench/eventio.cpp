// Stream reading: every hit word of a simulated run visited through Event/Packet,
// the way the monitor walks a packet, against reading and summing the file's bytes.
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

std::uint64_t visit_packet(Packet& packet) {
  std::uint64_t sum = 0;
  for (int ruid = 0; ruid <= 4; ++ruid) {
    if (packet.iValue(ruid) == -1) continue;
    for (int ruchn = 0; ruchn <= 28; ++ruchn) {
      if (packet.iValue(ruid, ruchn) <= 0) continue;
      for (int i = 0; i < packet.iValue(ruid, ruchn); ++i)
        sum += static_cast<std::uint32_t>(packet.iValue(ruid, ruchn, i));
    }
  }
  return sum;
}

std::uint64_t read_events(const std::string& path) {
  std::string error;
  auto reader = kivo::eventio::StreamReader::open(path, false, error);
  std::uint64_t sum = 0;
  if (!reader) return sum;
  while (auto event = reader->next()) {
    const std::unique_ptr<Packet> packet(event->getPacket(2000));
    if (packet) sum += visit_packet(*packet);
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

KIVO_BENCH("stream read", "all hit words of a stream file through Event/Packet", stream_read);
