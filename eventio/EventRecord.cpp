#include "EventRecord.h"

#include <algorithm>
#include <string>

#include "StreamEvent.h"
#include "StreamFormat.h"

namespace kivo::eventio {

UnitWords& EventRecord::unit(int ruid) {
  has_packet = true;
  const auto it = std::find_if(units.begin(), units.end(),
                               [ruid](const UnitWords& u) { return u.ruid == ruid; });
  if (it != units.end()) return *it;
  return units.emplace_back(UnitWords{ruid, {}});
}

ChannelWords& EventRecord::channel(int ruid, int ruchn) {
  auto& channels = unit(ruid).channels;
  const auto it = std::find_if(channels.begin(), channels.end(),
                               [ruchn](const ChannelWords& c) { return c.ruchn == ruchn; });
  if (it != channels.end()) return *it;
  return channels.emplace_back(ChannelWords{ruchn, {}});
}

void EventRecord::add_word(int ruid, int ruchn, std::uint32_t word) {
  channel(ruid, ruchn).words.push_back(word);
}

std::unique_ptr<Event> make_event(const EventRecord& record) {
  const std::string payload = encode_payload(record);
  std::string error;
  return StreamEvent::decode(reinterpret_cast<const std::uint8_t*>(payload.data()), payload.size(),
                             error);
}

}  // namespace kivo::eventio
