// One run as the registry records it: what its run file says about itself
// (web::ArchivedRun, read from the file's keys or from the objects written
// into it), the stand, and where the file is. The live archive and a rebuild
// from the files make their records through record_of(), so that both give
// the same rows.
#ifndef KIVO_HOST_REGISTRY_RUN_RECORD_H
#define KIVO_HOST_REGISTRY_RUN_RECORD_H

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ArchiveListing.h"

namespace kivo::registry {

// A check's final verdict, from its name quality_<check>[_<stave>[_<chip>]].
struct RunVerdict {
  std::string name;  // as the file names it, without "quality_"
  std::string check;
  std::optional<int> stave, chip;
  std::string verdict, reason;
};

struct RunRecord {
  std::string stand;
  int run = 0;
  std::string file;                 // its name in the archive directory
  std::optional<std::string> path;  // the file's absolute path; none when it could not be written
  std::optional<long long> bytes;
  std::string first_event, last_event;  // ISO 8601 UTC, empty when unknown
  std::optional<long long> data_events;
  std::optional<bool> begin_seen, end_seen;
  std::string version;
  std::string overall, overall_reason;
  std::vector<RunVerdict> verdicts;
  std::vector<std::pair<std::string, double>> figures;  // by name, as the file orders them
};

// The record of `run`, of `stand` when its file does not name one, with the
// file at `path` (empty: none written).
RunRecord record_of(const web::ArchivedRun& run, const std::string& stand, const std::string& path);

// The absolute path a record keeps for `file`, its symbolic links resolved.
std::string record_path(const std::string& file);

// The record as one JSON object, and back; false with `error` when the text
// is not one.
std::string record_json(const RunRecord& record);
bool parse_record(const std::string& text, RunRecord& record, std::string& error);

// "Good: reason" from the verdict's parts.
std::string verdict_title(const RunVerdict& verdict);

}  // namespace kivo::registry

#endif
