// The binary stream format (docs/stream-format.md): constants and encoders.
// All integers little-endian. A stream is a file header followed by event
// records; each record is a 16-byte record header and a CRC-protected payload.
#ifndef KIVO_EVENTIO_STREAM_FORMAT_H
#define KIVO_EVENTIO_STREAM_FORMAT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "EventRecord.h"

namespace kivo::eventio {

inline constexpr char kFileMagic[8] = {'K', 'I', 'V', 'O', 'S', 'T', 'R', 'M'};
inline constexpr std::uint32_t kFormatVersion = 1;
inline constexpr std::size_t kFileHeaderSize = 16;
// "KEVT" read as a little-endian 32-bit word.
inline constexpr std::uint32_t kRecordMarker = 0x5456454Bu;
inline constexpr std::size_t kRecordHeaderSize = 16;
// type, run, sequence, packet count
inline constexpr std::size_t kMinPayloadSize = 16;
inline constexpr std::size_t kMaxPayloadSize = std::size_t{64} << 20;

// The 16-byte file header that starts every stream.
std::string encode_file_header();
// The payload of one record (event fields and packets), as bytes.
std::string encode_payload(const EventRecord& record);
// One complete record: record header followed by the payload.
std::string encode_record(const EventRecord& record);
// Appends the complete record to `out` (the writer's fast path).
void append_record(std::string& out, const EventRecord& record);

}  // namespace kivo::eventio

#endif
