// libFuzzer target: arbitrary bytes, delivered in pieces of varying size, through
// the record scanner. Every event that comes out must answer the Event/Packet
// interface consistently with its own record; nothing may read out of bounds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "Diagnostics.h"
#include "RecordScanner.h"

namespace {

using kivo::eventio::EventRecord;

void check(bool condition) {
  if (!condition) std::abort();
}

void check_event(kivo::eventio::StreamEvent& event) {
  const EventRecord record = event.record();
  std::unique_ptr<Packet> packet(event.getPacket(2000));
  check((packet != nullptr) == record.has_packet);
  if (!packet) return;
  for (const auto& unit : record.units) {
    check(packet->iValue(unit.ruid) != -1);
    for (const auto& channel : unit.channels) {
      const int count = packet->iValue(unit.ruid, channel.ruchn);
      check(count == static_cast<int>(channel.words.size()));
      for (int i = 0; i < count; ++i)
        check(packet->iValue(unit.ruid, channel.ruchn, i) == static_cast<int>(channel.words[i]));
      check(packet->iValue(unit.ruid, channel.ruchn, count) == 0);
    }
  }
  for (int ruid = 0; ruid <= 4; ++ruid)
    for (int ruchn = 0; ruchn <= 28; ++ruchn)
      for (int i = 0; i < packet->iValue(ruid, ruchn); ++i) packet->iValue(ruid, ruchn, i);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const auto silenced = kivo::eventio::set_diagnostic_sink([](const std::string&) {});
  (void)silenced;
  kivo::eventio::RecordScanner scanner("fuzz");
  // The first byte picks the piece size, so records also arrive split across reads.
  const std::size_t piece = size > 0 ? 1 + data[0] % 64 : 1;
  std::size_t fed = 0;
  while (fed < size) {
    const std::size_t n = std::min(piece, size - fed);
    scanner.feed(data + fed, n);
    fed += n;
    while (auto event = scanner.next()) check_event(*event);
  }
  scanner.finish();
  while (auto event = scanner.next()) check_event(*event);
  check(scanner.drained());
  check(scanner.counters().bytes_read == size);
  return 0;
}
