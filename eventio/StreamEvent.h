// An event decoded from one record payload of the stream format. Packet 2000 is
// indexed once at decode time so that every iValue call is a short lookup;
// packets with other ids are counted and skipped (getPacket answers null for them).
#ifndef KIVO_EVENTIO_STREAM_EVENT_H
#define KIVO_EVENTIO_STREAM_EVENT_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "Event.h"
#include "EventRecord.h"

namespace kivo::eventio {

struct PacketIndex;

class StreamEvent final : public Event {
 public:
  // Decodes a payload; returns null and sets error when its structure is inconsistent.
  static std::unique_ptr<StreamEvent> decode(const std::uint8_t* payload, std::size_t size,
                                             std::string& error);

  int getEvtType() override { return type_; }
  int getRunNumber() override { return run_; }
  Packet* getPacket(int id) override;

  std::uint32_t sequence() const { return sequence_; }
  // Packets with ids other than 2000 in the payload; record() has none of them.
  std::uint32_t other_packets() const { return other_packets_; }
  // The event as data, units and channels in stored order.
  EventRecord record() const;

 private:
  StreamEvent() = default;

  int type_ = 0;
  int run_ = 0;
  std::uint32_t sequence_ = 0;
  std::uint32_t other_packets_ = 0;
  std::shared_ptr<const PacketIndex> packet_;  // null when packet 2000 is absent
};

}  // namespace kivo::eventio

#endif
