#include "RunArchive.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "EventRecord.h"
#include "MonitorObjects.h"
#include "Session.h"

namespace kivo::host {

std::string RunArchive::directory_problem(const std::string& directory) {
  if (directory.empty()) return "no directory given";
  struct stat info {};
  if (::stat(directory.c_str(), &info) != 0) return std::strerror(errno);
  if (!S_ISDIR(info.st_mode)) return "not a directory";
  if (::access(directory.c_str(), W_OK | X_OK) != 0)
    return std::string("files cannot be written there (") + std::strerror(errno) + ")";
  return {};
}

RunArchive::RunArchive(std::string directory, Snapshot snapshot)
    : directory_(std::move(directory)), snapshot_(std::move(snapshot)), writer_([this] { write_jobs(); }) {}

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
  if (type == eventio::kBeginRunEventType && open_run_) archive_open_run();
}

void RunArchive::after_event(int type, int run) {
  if (type == eventio::kBeginRunEventType) {
    open_run_ = run;
  } else if (type == eventio::kEndRunEventType) {
    if (open_run_) archive_open_run();
  } else if (type == eventio::kDataEventType && !open_run_) {
    open_run_ = run;  // data without a begin-run event before it
  }
}

void RunArchive::finish() {
  if (open_run_) archive_open_run();
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return queue_.empty() && !writing_; });
}

void RunArchive::archive_open_run() {
  Job job{*open_run_, {}};
  open_run_.reset();
  std::string error;
  if (!snapshot_(job.objects, error)) {
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
    write(std::move(job));
    lock.lock();
    writing_ = false;
    lock.unlock();
    changed_.notify_all();
  }
}

void RunArchive::write(Job job) {
  const std::string usual = (std::filesystem::path(directory_) / ("run" + std::to_string(job.run) + ".root")).string();
  std::string error;
  const std::string path = write_new_root_file([this, &job] { return free_path(job.run); }, std::move(job.objects), error);
  if (path.empty()) {
    record_failure(job.run, error);
    return;
  }
  if (path != usual) report("archive: " + usual + " exists; run " + std::to_string(job.run) + " written to " + path);
  std::error_code size_unknown;
  const std::uintmax_t size = std::filesystem::file_size(path, size_unknown);
  const std::lock_guard lock(mutex_);
  last_file_ = path;
  ++counts_.runs_written;
  if (!size_unknown) counts_.bytes_written += size;
}

void RunArchive::record_failure(int run, const std::string& error) {
  const std::string failure = "run " + std::to_string(run) + " not written: " + error;
  report("archive: " + failure);
  const std::lock_guard lock(mutex_);
  last_failure_ = failure;
  failed_ = true;
  ++counts_.runs_failed;
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
    lines.push_back("archive: " + std::to_string(pending) + (pending == 1 ? " run" : " runs") + " being written");
  if (open_run_) lines.push_back("archive: run " + std::to_string(*open_run_) + " in progress");
  return lines;
}

bool RunArchive::failed() const {
  const std::lock_guard lock(mutex_);
  return failed_;
}

RunArchive::Counts RunArchive::counts() const {
  const std::lock_guard lock(mutex_);
  return counts_;
}

}  // namespace kivo::host
