// kivo --archive DIR: every run, complete, as the ROOT file DIR/run<N>.root.
// A run ends at its end-run event, at the next begin-run event (before the
// monitor resets its histograms for the new run) and at exit. The event
// thread only takes a copy of the monitor's objects; compressing and writing
// happen on a thread of the archive's own, which exit waits for. A file of
// the same run already there is kept: the new one gets a suffix. A failure is
// told on standard error and by sources(); events are processed on.
#ifndef KIVO_HOST_RUN_ARCHIVE_H
#define KIVO_HOST_RUN_ARCHIVE_H

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "RootStreamer.h"

namespace kivo::host {

class RunArchive {
 public:
  // Takes the copy of the objects of a run that has ended.
  using Snapshot = std::function<bool(std::vector<rootcompat::StreamedObject>&, std::string& error)>;

  // Empty when archive files can be written into `directory`, else why not.
  static std::string directory_problem(const std::string& directory);

  RunArchive(std::string directory, Snapshot snapshot);
  ~RunArchive();
  RunArchive(const RunArchive&) = delete;
  RunArchive& operator=(const RunArchive&) = delete;

  // Around each event the monitor processes, with its type and run number.
  void before_event(int type, int run);
  void after_event(int type, int run);
  // Archives the run in progress, if any, and waits until every file is written.
  void finish();
  // What sources() shows: the directory, the last file written, the last
  // failure, the runs still being written.
  std::vector<std::string> describe() const;
  // Whether some run could not be written.
  bool failed() const;
  struct Counts {
    long runs_written = 0, runs_failed = 0;
    std::uint64_t bytes_written = 0;
  };
  // What the archive has done since kivo started; any thread.
  Counts counts() const;

 private:
  struct Job {
    int run;
    std::vector<rootcompat::StreamedObject> objects;
  };

  void archive_open_run();
  // Says on standard error that `run` was not written and why, and keeps it for describe().
  void record_failure(int run, const std::string& error);
  void write_jobs();
  void write(Job job);
  // DIR/run<N>.root, or with a suffix when that exists.
  std::string free_path(int run) const;

  const std::string directory_;
  const Snapshot snapshot_;
  std::optional<int> open_run_;  // the run whose events the monitor holds, not yet archived

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Job> queue_;
  bool writing_ = false;
  bool stopping_ = false;
  std::string last_file_;
  std::string last_failure_;
  bool failed_ = false;
  Counts counts_;
  std::thread writer_;
};

}  // namespace kivo::host

#endif
