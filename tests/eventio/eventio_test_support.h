// Helpers shared by the eventio tests: a scratch directory, captured
// diagnostics and small record builders.
#ifndef KIVO_TESTS_EVENTIO_TEST_SUPPORT_H
#define KIVO_TESTS_EVENTIO_TEST_SUPPORT_H

#include <filesystem>
#include <string>
#include <vector>

#include "Diagnostics.h"
#include "EventRecord.h"

namespace kivo::eventio::testing {

class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// Collects every diagnostic line while alive.
class CapturedDiagnostics {
 public:
  CapturedDiagnostics();
  ~CapturedDiagnostics();
  const std::vector<std::string>& lines() const { return lines_; }
  std::string joined() const;

 private:
  std::vector<std::string> lines_;
  DiagnosticSink previous_;
};

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);
void append_file(const std::string& path, const std::string& bytes);

// A data event of `run` with one hit on unit 1, channel `ruchn` (row, col).
EventRecord data_event(int run, std::uint32_t sequence, int ruchn, int row, int col);
// The stream bytes of `records`, file header first.
std::string stream_of(const std::vector<EventRecord>& records);
// One record of `record` followed, inside the payload, by one-word packets of `other_ids`.
std::string record_with_packets(const EventRecord& record, const std::vector<std::uint32_t>& other_ids);

}  // namespace kivo::eventio::testing

#endif
