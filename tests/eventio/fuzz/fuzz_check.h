// Checks shared by the libFuzzer targets of the stream reader.
#ifndef KIVO_TESTS_EVENTIO_FUZZ_CHECK_H
#define KIVO_TESTS_EVENTIO_FUZZ_CHECK_H

#include <cstdlib>
#include <memory>

#include "StreamEvent.h"

namespace kivo::fuzz {

inline void check(bool condition) {
  if (!condition) std::abort();
}

// Every event must answer the Event/Packet interface consistently with its own
// record; nothing may read out of bounds.
inline void check_event(eventio::StreamEvent& event) {
  const eventio::EventRecord record = event.record();
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

}  // namespace kivo::fuzz

#endif
