// The runs of an archive directory as their files describe themselves: each
// run file (run<N>.root, run<N>_<K>.root) keeps its facts in the titles of
// small objects, which are read from the file's list of keys without
// decoding any object. Shared by the page's list of archived runs
// (/runs.json) and kivo --list-archive.
#ifndef KIVO_HOST_WEB_ARCHIVE_LISTING_H
#define KIVO_HOST_WEB_ARCHIVE_LISTING_H

#include <ctime>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace kivo::web {

// The objects (TNamed) whose titles hold a run file's facts.
inline constexpr const char* kRunNumberName = "run_number";
inline constexpr const char* kRunFirstEventName = "run_first_event";  // wall clock, ISO 8601 UTC
inline constexpr const char* kRunLastEventName = "run_last_event";
inline constexpr const char* kRunDataEventsName = "run_data_events";
inline constexpr const char* kRunBeginSeenName = "run_begin_seen";  // "yes" or "no"
inline constexpr const char* kRunEndSeenName = "run_end_seen";
inline constexpr const char* kRunStreamsName = "run_streams";  // one stream per line
inline constexpr const char* kKivoVersionName = "kivo_version";
inline constexpr const char* kRunStandName = "run_stand";  // --name of the kivo that wrote it
// The run's summary figures, one number each: "summary_hits_per_event_0" = "12.5".
inline constexpr const char* kSummaryPrefix = "summary_";
inline constexpr const char* kOverallVerdictName = "quality_overall";  // "<verdict>: <reason>"
// The other verdicts are named "quality_<check>..." (not quality_overall,
// quality_verdicts or quality_checks).
inline constexpr const char* kVerdictPrefix = "quality_";

struct ArchivedRun {
  std::string file;  // the name in the archive directory
  long long bytes = 0;
  int run = -1;  // -1: the file does not say
  std::string first_event, last_event;
  long data_events = -1;
  std::string overall;  // "Good", ..., empty when unknown
  std::string overall_reason;  // "<check>: <reason>" of the worst verdict, which made the overall one
  bool cut_short = false;  // the run ended without its end-of-run event (run_end_seen "no")
  std::string version;
  std::string stand;  // empty when the file does not say
  int begin_seen = -1, end_seen = -1;  // 1 yes, 0 no, -1 the file does not say
  std::vector<std::pair<std::string, std::string>> verdicts;  // name, "<verdict>: <reason>"
  std::vector<std::pair<std::string, std::string>> figures;  // name without the prefix, the number's text
  std::string problem;  // why the file could not be read, empty when it could
};

// Takes the fact a TNamed `name` with `title` of a run file holds, if any.
void take_named_fact(ArchivedRun& run, const std::string& name, const std::string& title);
// Once every fact is taken: what the file says only through the others
// (the reason of the overall verdict, the run number its name gives).
void complete_facts(ArchivedRun& run);

// Whether `name` (no directory) is a run file: run<N>.root or run<N>_<K>.root.
bool is_run_file_name(const std::string& name);

// The facts of the run file `name` in `directory`.
ArchivedRun read_archived_run(const std::string& directory, const std::string& name);

// Every run file of `directory`, by run number, then name; false with `error`
// when the directory cannot be read.
bool list_archive(const std::string& directory, std::vector<ArchivedRun>& runs, std::string& error);

// {"archive":true,"runs":[{"file","bytes","run","first_event","last_event","data_events",
// "overall","overall_reason","cut_short","version","problem"}, ...]}; unknown facts null.
std::string runs_json(const std::vector<ArchivedRun>& runs);

// The list for the page, read again only when the directory has changed.
// Safe to call from any thread.
class ArchiveListing {
 public:
  explicit ArchiveListing(std::string directory) : directory_(std::move(directory)) {}
  std::string json();
  // The runs as last read for json(), read again as it is.
  std::vector<ArchivedRun> runs();

 private:
  std::string directory_;
  std::mutex mutex_;
  timespec read_at_{-1, 0};  // the directory's modification time when last read
  std::string json_;
  std::vector<ArchivedRun> runs_;
};

}  // namespace kivo::web

#endif
