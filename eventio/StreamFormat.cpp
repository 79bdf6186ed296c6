#include "StreamFormat.h"

#include <bit>

#include "Crc32c.h"

namespace kivo::eventio {
namespace {

void put_u32(std::string& out, std::uint32_t value) {
  const char bytes[4] = {static_cast<char>(value & 0xFFu), static_cast<char>((value >> 8) & 0xFFu),
                         static_cast<char>((value >> 16) & 0xFFu),
                         static_cast<char>((value >> 24) & 0xFFu)};
  out.append(bytes, 4);
}

void patch_u32(std::string& out, std::size_t pos, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out[pos + i] = static_cast<char>((value >> (8 * i)) & 0xFFu);
}

static_assert(std::endian::native == std::endian::little,
              "hit words are copied to and from the stream as they are in memory");

void append_words(std::string& out, const std::vector<std::uint32_t>& words) {
  out.append(reinterpret_cast<const char*>(words.data()), words.size() * 4);
}

void append_detector_packet(std::string& out, const EventRecord& record) {
  put_u32(out, static_cast<std::uint32_t>(kDetectorPacketId));
  const std::size_t length_pos = out.size();
  put_u32(out, 0);
  const std::size_t body_start = out.size();
  put_u32(out, static_cast<std::uint32_t>(record.units.size()));
  for (const UnitWords& unit : record.units) {
    put_u32(out, static_cast<std::uint32_t>(unit.ruid));
    put_u32(out, static_cast<std::uint32_t>(unit.channels.size()));
    for (const ChannelWords& channel : unit.channels) {
      put_u32(out, static_cast<std::uint32_t>(channel.ruchn));
      put_u32(out, static_cast<std::uint32_t>(channel.words.size()));
      append_words(out, channel.words);
    }
  }
  patch_u32(out, length_pos, static_cast<std::uint32_t>(out.size() - body_start));
}

void append_payload(std::string& out, const EventRecord& record) {
  put_u32(out, static_cast<std::uint32_t>(record.type));
  put_u32(out, static_cast<std::uint32_t>(record.run));
  put_u32(out, record.sequence);
  put_u32(out, record.has_packet ? 1u : 0u);
  if (record.has_packet) append_detector_packet(out, record);
}

}  // namespace

std::string encode_file_header() {
  std::string out(kFileMagic, sizeof kFileMagic);
  put_u32(out, kFormatVersion);
  put_u32(out, static_cast<std::uint32_t>(kFileHeaderSize));
  return out;
}

std::string encode_payload(const EventRecord& record) {
  std::string out;
  append_payload(out, record);
  return out;
}

void append_record(std::string& out, const EventRecord& record) {
  const std::size_t header_pos = out.size();
  put_u32(out, kRecordMarker);
  put_u32(out, kFormatVersion);
  put_u32(out, 0);  // payload length, patched below
  put_u32(out, 0);  // payload CRC-32C, patched below
  const std::size_t payload_pos = out.size();
  append_payload(out, record);
  const std::size_t payload_size = out.size() - payload_pos;
  patch_u32(out, header_pos + 8, static_cast<std::uint32_t>(payload_size));
  patch_u32(out, header_pos + 12, crc32c(out.data() + payload_pos, payload_size));
}

std::string encode_record(const EventRecord& record) {
  std::string out;
  append_record(out, record);
  return out;
}

}  // namespace kivo::eventio
