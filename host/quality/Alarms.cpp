#include "Alarms.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "Checks.h"

extern char** environ;

namespace kivo::quality {

namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(20);
constexpr std::size_t kMaxQueued = 1000;
constexpr const char* kVariables[] = {"KIVO_CHECK=", "KIVO_STAVE=", "KIVO_CHIP=",
                                      "KIVO_VERDICT=", "KIVO_REASON=", "KIVO_RUN="};

std::string index_text(int value) { return value == kNone ? "" : std::to_string(value); }

bool is_alarm_variable(const char* entry) {
  for (const char* variable : kVariables)
    if (std::strncmp(entry, variable, std::strlen(variable)) == 0) return true;
  return false;
}

// kivo's environment without stale KIVO_* alarm variables, then the request's.
std::vector<std::string> child_environment(const std::vector<std::string>& assignments) {
  std::vector<std::string> all;
  for (char** entry = environ; entry && *entry; ++entry)
    if (!is_alarm_variable(*entry)) all.emplace_back(*entry);
  all.insert(all.end(), assignments.begin(), assignments.end());
  return all;
}

std::string describe_status(int status) {
  if (WIFEXITED(status)) return format("exit status %d", WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return format("killed by signal %d (%s)", WTERMSIG(status), strsignal(WTERMSIG(status)));
  return "stopped";
}

}  // namespace

Alarms::Alarms(std::string command, const AlarmConfig& config, Report report)
    : command_(std::move(command)),
      time_limit_(config.time_limit_seconds),
      max_alarms_(static_cast<std::size_t>(config.max_alarms)),
      period_(config.period_seconds),
      report_(std::move(report)),
      worker_([this] { work(); }) {}

Alarms::~Alarms() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  worker_.join();
}

void Alarms::raise(const Result& result, int run) {
  Request request;
  request.environment = {"KIVO_CHECK=" + result.check,       "KIVO_STAVE=" + index_text(result.stave),
                         "KIVO_CHIP=" + index_text(result.chip), std::string("KIVO_VERDICT=") + verdict_name(result.verdict),
                         "KIVO_REASON=" + result.reason,     "KIVO_RUN=" + std::to_string(run)};
  request.what = result.check + (result.stave == kNone ? "" : " stave " + std::to_string(result.stave)) +
                 (result.chip == kNone ? "" : " chip " + std::to_string(result.chip));
  ++raised_total_;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (queue_.size() >= kMaxQueued) {
      ++held_back_queued_;
      ++held_back_total_;
      return;
    }
    queue_.push_back(std::move(request));
  }
  wake_.notify_all();
}

void Alarms::work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    const auto now = std::chrono::steady_clock::now();
    while (!queue_.empty()) {
      Request request = std::move(queue_.front());
      queue_.pop_front();
      lock.unlock();
      if (admit(now)) start(request, now);
      lock.lock();
    }
    held_back_ += held_back_queued_;
    held_back_queued_ = 0;
    lock.unlock();
    reap(now);
    report_held_back(now);
    lock.lock();
    if (stopping_ && queue_.empty() && running_.empty()) break;
    if (running_.empty() && held_back_ == 0 && !stopping_)
      wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    else
      wake_.wait_for(lock, kPollInterval, [this] { return !queue_.empty(); });
  }
  lock.unlock();
  report_held_back(std::chrono::steady_clock::time_point::max());
}

bool Alarms::admit(std::chrono::steady_clock::time_point now) {
  while (!recent_starts_.empty() && now - recent_starts_.front() >= period_) recent_starts_.pop_front();
  if (recent_starts_.size() < max_alarms_) return true;
  ++held_back_;
  ++held_back_total_;
  return false;
}

// Held back read first: an alarm is counted raised before it can be held back.
AlarmCounts Alarms::counts() const {
  AlarmCounts counts;
  counts.held_back = held_back_total_.load();
  counts.raised = raised_total_.load();
  return counts;
}

// Told once the period lets alarms through again (or when kivo ends).
void Alarms::report_held_back(std::chrono::steady_clock::time_point now) {
  if (held_back_ == 0) return;
  const bool window_open = recent_starts_.empty() || now - recent_starts_.front() >= period_;
  if (!window_open) return;
  report_(format("--on-bad: %ld alarm%s held back: more than %zu within %g s", held_back_, held_back_ == 1 ? "" : "s",
                 max_alarms_, period_.count()));
  held_back_ = 0;
}

void Alarms::start(const Request& request, std::chrono::steady_clock::time_point now) {
  recent_starts_.push_back(now);
  const std::vector<std::string> environment = child_environment(request.environment);
  std::vector<char*> envp;
  for (const std::string& entry : environment) envp.push_back(const_cast<char*>(entry.c_str()));
  envp.push_back(nullptr);
  char* argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"), const_cast<char*>(command_.c_str()), nullptr};

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults, none;
  sigemptyset(&defaults);
  for (int signal : {SIGINT, SIGTERM, SIGPIPE, SIGQUIT, SIGHUP}) sigaddset(&defaults, signal);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);
  pid_t pid = 0;
  const int error = posix_spawn(&pid, "/bin/sh", &actions, &attributes, argv, envp.data());
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) {
    report_("--on-bad command for " + request.what + " could not start: " + std::strerror(error));
    return;
  }
  running_.push_back({pid, now, request.what});
}

void Alarms::reap(std::chrono::steady_clock::time_point now) {
  for (auto it = running_.begin(); it != running_.end();) {
    int status = 0;
    const pid_t done = waitpid(it->pid, &status, WNOHANG);
    if (done == 0 && now - it->started < time_limit_) {
      ++it;
      continue;
    }
    if (done == 0) {
      kill(-it->pid, SIGKILL);
      waitpid(it->pid, &status, 0);
      report_(format("--on-bad command for %s stopped after the time limit of %g s", it->what.c_str(),
                     time_limit_.count()));
    } else if (done < 0) {
      report_("--on-bad command for " + it->what + ": " + std::strerror(errno));
    } else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      report_("--on-bad command for " + it->what + " failed: " + describe_status(status));
    }
    it = running_.erase(it);
  }
}

}  // namespace kivo::quality
