#include "RunArchive.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "EventRecord.h"
#include "Session.h"
#include "ThreadPriority.h"
#include "TemporaryFiles.h"

namespace kivo::host {

namespace {

// Runs ended and copied that may wait while another is written.
constexpr std::size_t kWaitingRuns = 1;

std::string plural(long count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

}  // namespace

std::string RunArchive::directory_problem(const std::string& directory) {
  if (directory.empty()) return "no directory given";
  struct stat info {};
  if (::stat(directory.c_str(), &info) != 0) return std::strerror(errno);
  if (!S_ISDIR(info.st_mode)) return "not a directory";
  if (::access(directory.c_str(), W_OK | X_OK) != 0)
    return std::string("files cannot be written there (") + std::strerror(errno) + ")";
  return {};
}

RunArchive::RunArchive(std::string directory, Snapshot snapshot, Recorded recorded, std::string stand)
    : directory_(std::move(directory)),
      stand_(std::move(stand)),
      snapshot_(std::move(snapshot)),
      recorded_(std::move(recorded)) {
  if (const int removed = eventio::remove_stale_temporaries_in(directory_); removed > 0)
    report("archive: removed " + plural(removed, "temporary file", "temporary files") + " left in " + directory_ +
           " by a kivo that ended while writing");
  // The writer never takes the signals that stop kivo: they reach the thread
  // that processes events, which looks at them.
  writer_ = web::with_stop_signals_blocked([this] { return std::thread([this] { write_jobs(); }); });
}

RunArchive::~RunArchive() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  writer_.join();
}

// A begin-run ends the run in progress before the monitor resets for the new one.
void RunArchive::before_event(int type, int) {
  if (type != eventio::kBeginRunEventType) return;
  if (open_run_) archive_open_run();
  report_strays();
  ended_run_.reset();
}

void RunArchive::after_event(int type, int run, const std::string& stream) {
  if (type == eventio::kBeginRunEventType) {
    open_run(run, true);
  } else if (type == eventio::kDataEventType && !open_run_ && !ended_run_) {
    open_run(run, false);  // data without a begin-run event before it
  } else if (type == eventio::kDataEventType && !open_run_) {
    ++strays_;
    ++strays_total_;
    return;
  }
  if (!open_run_) return;
  note_event(stream);
  if (type == eventio::kDataEventType) ++open_run_->data_events;
  if (type == eventio::kEndRunEventType) {
    open_run_->end_seen = true;
    ended_run_ = open_run_->run;
    archive_open_run();
  }
}

void RunArchive::open_run(int run, bool begin_seen) {
  open_run_ = RunFacts();
  open_run_->stand = stand_;
  open_run_->run = run;
  open_run_->begin_seen = begin_seen;
  open_run_->first_event = std::chrono::system_clock::now();
}

void RunArchive::note_event(const std::string& stream) {
  open_run_->last_event = std::chrono::system_clock::now();
  std::vector<std::string>& streams = open_run_->streams;
  if (!stream.empty() && std::find(streams.begin(), streams.end(), stream) == streams.end()) streams.push_back(stream);
}

void RunArchive::finish() {
  if (open_run_) archive_open_run();
  report_strays();
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return queue_.empty() && !writing_; });
}

void RunArchive::report_strays() {
  if (strays_ == 0) return;
  report("archive: " + plural(strays_, "data event", "data events") + " after the end-run of run " +
         std::to_string(*ended_run_) + " and before a begin-run are in no run file (run " +
         std::to_string(*ended_run_) + "'s file holds the run as it ended)");
  strays_ = 0;
}

// Told once while the writer stays behind, not at every run.
void RunArchive::wait_for_room(int run) {
  std::unique_lock lock(mutex_);
  if (queue_.size() < kWaitingRuns) return;
  if (!told_waiting_)
    report("archive: events wait while the runs before run " + std::to_string(run) +
           " are written (one run waits at most, to bound memory)");
  told_waiting_ = true;
  changed_.wait(lock, [this] { return queue_.size() < kWaitingRuns; });
}

void RunArchive::archive_open_run() {
  const RunFacts facts = std::move(*open_run_);
  open_run_.reset();
  wait_for_room(facts.run);
  Job job{facts.run, {}};
  std::string error;
  if (!snapshot_(facts, job.copy, error)) {
    record_failure(job.run, error);
    return;
  }
  {
    const std::lock_guard lock(mutex_);
    queue_.push_back(std::move(job));
  }
  changed_.notify_all();
}

// The writer thread: takes the runs in the order they ended, until stopped
// with nothing left to write.
void RunArchive::write_jobs() {
  for (;;) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (queue_.empty()) return;
    Job job = std::move(queue_.front());
    queue_.pop_front();
    writing_ = true;
    lock.unlock();
    changed_.notify_all();
    write(std::move(job));
    lock.lock();
    writing_ = false;
    if (queue_.empty()) told_waiting_ = false;
    lock.unlock();
    changed_.notify_all();
  }
}

void RunArchive::write(Job job) {
  const std::string usual = (std::filesystem::path(directory_) / ("run" + std::to_string(job.run) + ".root")).string();
  std::string error;
  long long bytes = 0;
  const std::string path =
      write_new_run_file([this, &job] { return free_path(job.run); }, job.copy.title, job.copy.objects, bytes, error);
  job.copy.objects = {};  // the run's copy goes before the next is taken
  if (path.empty()) {
    record_failure(job.run, error);
    tell_recorded(job, "", std::filesystem::path(usual).filename().string(), 0);
    return;
  }
  if (path != usual) report("archive: " + usual + " exists; run " + std::to_string(job.run) + " written to " + path);
  {
    const std::lock_guard lock(mutex_);
    last_file_ = path;
    ++counts_.written;
    counts_.bytes += bytes;
  }
  tell_recorded(job, path, std::filesystem::path(path).filename().string(), bytes);
}

void RunArchive::tell_recorded(const Job& job, const std::string& path, const std::string& file, long long bytes) {
  if (!recorded_) return;
  recorded_({job.run, path, file, bytes, *job.copy.facts});
}

void RunArchive::record_failure(int run, const std::string& error) {
  const std::string failure = "run " + std::to_string(run) + " not written: " + error;
  report("archive: " + failure);
  const std::lock_guard lock(mutex_);
  last_failure_ = failure;
  ++counts_.failed;
}

std::string RunArchive::free_path(int run) const {
  const std::filesystem::path base = std::filesystem::path(directory_) / ("run" + std::to_string(run));
  std::string path = base.string() + ".root";
  std::error_code error;
  for (int suffix = 1; std::filesystem::exists(std::filesystem::symlink_status(path, error)); ++suffix)
    path = base.string() + "_" + std::to_string(suffix) + ".root";
  return path;
}

std::vector<std::string> RunArchive::describe() const {
  const std::lock_guard lock(mutex_);
  std::vector<std::string> lines;
  lines.push_back("archive " + directory_ + ": " +
                  (last_file_.empty() ? std::string("no run written yet") : "last run written to " + last_file_));
  if (!last_failure_.empty()) lines.push_back("archive: " + last_failure_);
  const std::size_t pending = queue_.size() + (writing_ ? 1 : 0);
  if (pending)
    lines.push_back("archive: " + plural(long(pending), "run", "runs") + " being written");
  if (open_run_) lines.push_back("archive: run " + std::to_string(open_run_->run) + " in progress");
  if (strays_total_ > 0)
    lines.push_back("archive: " + plural(strays_total_, "data event", "data events") +
                    " after an end-run and before a begin-run, in no run file");
  return lines;
}

bool RunArchive::failed() const {
  const std::lock_guard lock(mutex_);
  return counts_.failed > 0;
}

RunArchive::ArchiveCounts RunArchive::counts() const {
  const std::lock_guard lock(mutex_);
  return counts_;
}

}  // namespace kivo::host
