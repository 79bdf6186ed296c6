// libFuzzer target: arbitrary bytes, delivered in pieces of varying size, through
// the record scanner. Every event that comes out must answer the Event/Packet
// interface consistently with its own record, and the same events must come out
// whatever the pieces. Some inputs are repeated to a stream longer than the
// scanner's buffer compaction threshold, so that records straddle compactions.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "Diagnostics.h"
#include "RecordScanner.h"
#include "fuzz_check.h"

namespace {

using kivo::eventio::EventRecord;
using kivo::fuzz::check;

constexpr std::size_t kLongStream = std::size_t{300} << 10;

// The records the scanner gives for `bytes` fed in pieces of `piece` bytes;
// with `check`, each event is checked against its record.
std::vector<EventRecord> scan(std::string_view bytes, std::size_t piece, bool check_events) {
  kivo::eventio::RecordScanner scanner("fuzz");
  std::vector<EventRecord> records;
  const auto take = [&] {
    while (auto event = scanner.next()) {
      if (check_events) kivo::fuzz::check_event(*event);
      records.push_back(event->record());
    }
  };
  for (std::size_t fed = 0; fed < bytes.size(); fed += piece) {
    scanner.feed(bytes.data() + fed, std::min(piece, bytes.size() - fed));
    take();
  }
  scanner.finish();
  take();
  check(scanner.drained());
  check(scanner.counters().bytes_read == bytes.size());
  check(scanner.counters().records_read == records.size());
  return records;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const auto silenced = kivo::eventio::set_diagnostic_sink([](const std::string&) {});
  (void)silenced;
  if (size == 0) return 0;
  // The first byte picks the piece size, and whether the rest is repeated into a long stream.
  const bool long_stream = data[0] == 0xFF && size > 1;
  std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  std::string repeated;
  if (long_stream) {
    while (repeated.size() < kLongStream) repeated.append(bytes);
    bytes = repeated;
  }
  const std::size_t piece = long_stream ? 4096 + size : 1 + data[0] % 64;
  // A long stream repeats the same records: checking them once is enough.
  check(scan(bytes, piece, !long_stream) == scan(bytes, bytes.size() + 1, false));
  return 0;
}
