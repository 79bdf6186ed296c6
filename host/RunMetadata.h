// What a run file says about itself, beside the monitor's objects: plain
// ROOT objects that any ROOT user reads by name without KIVO (the names are
// in ArchiveListing.h): the run number, the wall-clock times of its first
// and last events, its data events, whether its begin- and end-run events
// were seen, the streams it came from, the version of kivo, the checks
// configuration in force (quality_checks), the stand (run_stand), the mask files in force
// (masklist_testbench1, masklist_testbench2: their text), and the final verdicts
// as numbers (quality_verdicts: check by stave, 0 Null or none, 1 Good,
// 2 Medium, 3 Bad, which hadd adds up across runs).
#ifndef KIVO_HOST_RUN_METADATA_H
#define KIVO_HOST_RUN_METADATA_H

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "Quality.h"

class TObject;

namespace kivo::host {

// What the archive saw of a run's events.
struct RunFacts {
  std::string stand;  // --name
  int run = 0;
  std::chrono::system_clock::time_point first_event{}, last_event{};
  long data_events = 0;
  bool begin_seen = false;
  bool end_seen = false;
  std::vector<std::string> streams;  // in the order they fed the run
};

// "2024-05-01T03:12:45Z".
std::string utc_time(std::chrono::system_clock::time_point time);

// The file's title: "KIVO run 42".
std::string run_file_title(const RunFacts& facts);

// The metadata objects of a run file, with the verdicts `quality` holds and
// the mask files in `mask_directory`; they join no directory.
std::vector<std::unique_ptr<TObject>> run_metadata(const RunFacts& facts, const quality::Quality& quality,
                                                   const std::string& mask_directory);

}  // namespace kivo::host

#endif
