// libFuzzer target: arbitrary text through the text-form parser. Whatever parses
// must come back unchanged through the canonical writer and through the stream.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "RecordScanner.h"
#include "StreamFormat.h"
#include "TextFormat.h"

namespace {

using kivo::eventio::EventRecord;

void check(bool condition) {
  if (!condition) std::abort();
}

std::vector<EventRecord> parse_or_abort(const std::string& text) {
  std::istringstream in(text);
  std::vector<EventRecord> records;
  std::string error;
  check(kivo::eventio::parse_text(in, records, error));
  return records;
}

std::vector<EventRecord> through_stream(const std::vector<EventRecord>& records) {
  std::string bytes = kivo::eventio::encode_file_header();
  for (const EventRecord& record : records) kivo::eventio::append_record(bytes, record);
  kivo::eventio::RecordScanner scanner("fuzz");
  scanner.feed(bytes.data(), bytes.size());
  scanner.finish();
  std::vector<EventRecord> read;
  while (auto event = scanner.next()) read.push_back(event->record());
  check(scanner.counters().records_rejected == 0);
  return read;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  std::vector<EventRecord> records;
  std::string error;
  if (!kivo::eventio::parse_text(in, records, error)) {
    check(error.rfind("line ", 0) == 0);
    return 0;
  }
  std::ostringstream canonical;
  kivo::eventio::write_text(canonical, records);
  check(parse_or_abort(canonical.str()) == records);
  check(through_stream(records) == records);
  return 0;
}
