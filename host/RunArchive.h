// kivo --archive DIR: every run, complete, as the ROOT file DIR/run<N>.root.
// A run ends at its end-run event, at the next begin-run event (before the
// monitor resets its histograms for the new run) and at exit. Data events
// after an end-run and before the next begin-run belong to no run: they are
// counted and told, never archived as a run of their own (the monitor's
// histograms still hold the ended run). The event thread only takes a copy
// of the run; deriving, compressing and writing happen on a thread of the
// archive's own, which exit waits for. At most one ended run waits while
// another is written: the event thread waits for room, so that memory stays
// bounded. A file of the same run already there is kept: the new one gets a
// suffix. A failure is told on standard error and by sources(); events are
// processed on.
#ifndef KIVO_HOST_RUN_ARCHIVE_H
#define KIVO_HOST_RUN_ARCHIVE_H

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "RunFile.h"
#include "RunMetadata.h"

namespace kivo::host {

class RunArchive {
 public:
  // A fact of the run file: a TNamed's name and title.
  using NamedFact = std::pair<std::string, std::string>;
  // A run that has ended, copied: its objects, handed to the file on the
  // writer thread, the file's title, and the facts (TNamed) among the
  // objects, completed while they are written.
  struct RunCopy {
    ObjectSource objects;
    std::string title;
    std::shared_ptr<std::vector<NamedFact>> facts = std::make_shared<std::vector<NamedFact>>();
  };
  // Takes the copy of the run that has just ended, on the event thread;
  // false with `error` when there is none to take.
  using Snapshot = std::function<bool(const RunFacts& facts, RunCopy& copy, std::string& error)>;
  // A run as its file keeps it, once the file is written or could not be.
  struct RecordedRun {
    int run = 0;
    std::string path;  // empty when the file could not be written
    std::string file;  // its name in the directory (the one tried, when it could not be written)
    long long bytes = 0;
    std::vector<NamedFact> facts;
  };
  // Told of every run, on the writer thread.
  using Recorded = std::function<void(const RecordedRun& run)>;

  struct ArchiveCounts {
    long written = 0;
    long failed = 0;
    long long bytes = 0;
  };

  // Empty when archive files can be written into `directory`, else why not.
  static std::string directory_problem(const std::string& directory);

  // Removes the temporaries a kivo that ended while writing left in
  // `directory`; `stand` names the runs' stand in their files.
  RunArchive(std::string directory, Snapshot snapshot, Recorded recorded = {}, std::string stand = {});
  ~RunArchive();
  RunArchive(const RunArchive&) = delete;
  RunArchive& operator=(const RunArchive&) = delete;

  // Around each event the monitor processes, with its type, run number and
  // the stream it came from.
  void before_event(int type, int run);
  void after_event(int type, int run, const std::string& stream = {});
  // Archives the run in progress, if any, and waits until every file is written.
  void finish();
  // What sources() shows: the directory, the last file written, the last
  // failure, the runs still being written, the events archived in no run.
  std::vector<std::string> describe() const;
  // Whether some run could not be written.
  bool failed() const;
  // Runs written and failed, bytes written; from any thread.
  ArchiveCounts counts() const;

 private:
  struct Job {
    int run;
    RunCopy copy;
  };

  void open_run(int run, bool begin_seen);
  void note_event(const std::string& stream);
  void archive_open_run();
  // Waits until the writer can take one more run.
  void wait_for_room(int run);
  // Says on standard error that events came after the end of a run, once.
  void report_strays();
  // Says on standard error that `run` was not written and why, and keeps it for describe().
  void record_failure(int run, const std::string& error);
  void write_jobs();
  void write(Job job);
  // DIR/run<N>.root, or with a suffix when that exists.
  std::string free_path(int run) const;
  // Hands the run to the recorder, if any.
  void tell_recorded(const Job& job, const std::string& path, const std::string& file, long long bytes);

  const std::string directory_;
  const std::string stand_;
  const Snapshot snapshot_;
  const Recorded recorded_;
  std::optional<RunFacts> open_run_;  // the run whose events the monitor holds, not yet archived
  std::optional<int> ended_run_;      // the run that ended last, while no begin-run followed
  long strays_ = 0;                   // data events since it ended
  long strays_total_ = 0;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Job> queue_;
  bool writing_ = false;
  bool stopping_ = false;
  bool told_waiting_ = false;  // that events wait for the writer, since it last caught up
  std::string last_file_;
  std::string last_failure_;
  ArchiveCounts counts_;
  std::thread writer_;
};

}  // namespace kivo::host

#endif
