// One event as plain data: what the text form describes and the stream writer
// stores. make_event turns it into an in-memory Event answering the Event/Packet
// interface exactly as an event read from a stream file does.
#ifndef KIVO_EVENTIO_EVENT_RECORD_H
#define KIVO_EVENTIO_EVENT_RECORD_H

#include <cstdint>
#include <memory>
#include <vector>

#include "Event.h"

namespace kivo::eventio {

inline constexpr int kDataEventType = 1;
inline constexpr int kBeginRunEventType = 9;
inline constexpr int kEndRunEventType = 12;
inline constexpr int kDetectorPacketId = 2000;
inline constexpr int kMaxUnitOrChannel = 65535;

// The hit words of one readout channel, in readout order.
struct ChannelWords {
  int ruchn = 0;
  std::vector<std::uint32_t> words;
  bool operator==(const ChannelWords&) const = default;
};

// One readout unit present in packet 2000 and its channels, in order of appearance.
struct UnitWords {
  int ruid = 0;
  std::vector<ChannelWords> channels;
  bool operator==(const UnitWords&) const = default;
};

struct EventRecord {
  int type = kDataEventType;
  int run = 0;
  std::uint32_t sequence = 0;
  bool has_packet = false;       // packet 2000 present
  std::vector<UnitWords> units;  // units of packet 2000 (also those without hits)

  // The unit `ruid`, appended (and the packet marked present) when not yet there.
  UnitWords& unit(int ruid);
  // The channel `ruchn` of unit `ruid`, appended when not yet there.
  ChannelWords& channel(int ruid, int ruchn);
  // Appends one hit word to channel (ruid, ruchn).
  void add_word(int ruid, int ruchn, std::uint32_t word);

  bool operator==(const EventRecord&) const = default;
};

// An in-memory Event answering the interface; the record is copied. Null when
// a unit or channel id is outside 0..65535 or a unit or channel is listed twice.
std::unique_ptr<Event> make_event(const EventRecord& record);

}  // namespace kivo::eventio

#endif
