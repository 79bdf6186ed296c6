#include "Alarms.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "Checks.h"

extern char** environ;

namespace kivo::quality {

namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(20);
constexpr std::size_t kMaxQueued = 1000;
// Alarms a summary of those held back names one by one; the rest are counted.
constexpr std::size_t kMaxHeld = 100;
constexpr const char* kVariables[] = {"KIVO_CHECK=",  "KIVO_STAVE=", "KIVO_CHIP=",      "KIVO_UNIT=",
                                      "KIVO_VERDICT=", "KIVO_REASON=", "KIVO_RUN=", "KIVO_HELD_BACK="};

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

const char* option_of(bool recovery) { return recovery ? "--on-good" : "--on-bad"; }

}  // namespace

Alarms::Alarms(std::string on_bad, std::string on_good, const AlarmConfig& config, Report report)
    : on_bad_(std::move(on_bad)),
      on_good_(std::move(on_good)),
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

AlarmCounts Alarms::counts() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return counts_;
}

void Alarms::raise(const Alarm& alarm) {
  const bool recovery = alarm.verdict != Verdict::Bad;
  const std::string& command = recovery ? on_good_ : on_bad_;
  if (command.empty()) return;
  Request request;
  request.command = &command;
  request.recovery = recovery;
  request.run = alarm.run;
  request.reason = alarm.reason;
  std::string staves = index_text(alarm.stave);
  if (alarm.unit != kNone) {
    staves.clear();
    for (int stave : alarm.staves) {
      if (!staves.empty()) staves.push_back(',');
      staves.append(std::to_string(stave));
    }
  }
  request.environment = {"KIVO_CHECK=" + alarm.check,
                         "KIVO_STAVE=" + staves,
                         "KIVO_CHIP=" + index_text(alarm.chip),
                         "KIVO_UNIT=" + index_text(alarm.unit),
                         std::string("KIVO_VERDICT=") + verdict_name(alarm.verdict),
                         "KIVO_REASON=" + alarm.reason,
                         "KIVO_RUN=" + std::to_string(alarm.run)};
  request.what = alarm.check + (alarm.unit != kNone ? " readout unit " + std::to_string(alarm.unit) : "") +
                 (alarm.stave == kNone ? "" : " stave " + std::to_string(alarm.stave)) +
                 (alarm.chip == kNone ? "" : " chip " + std::to_string(alarm.chip));
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (queue_.size() >= kMaxQueued) {
      ++held_back_queued_;
      ++counts_.held_back;
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
      if (admit(now)) {
        lock.unlock();
        start(request, now);
      } else {
        ++counts_.held_back;
        lock.unlock();
        if (held_.size() < kMaxHeld)
          held_.push_back(std::move(request));
        else
          ++held_uncounted_;
      }
      lock.lock();
    }
    held_uncounted_ += held_back_queued_;
    held_back_queued_ = 0;
    const bool stopping = stopping_;
    lock.unlock();
    reap(now);
    deliver_held_back(now, stopping);
    lock.lock();
    if (stopping_ && queue_.empty() && running_.empty() && held_.empty() && held_uncounted_ == 0) break;
    if (running_.empty() && held_.empty() && held_uncounted_ == 0 && !stopping_)
      wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    else
      wake_.wait_for(lock, kPollInterval, [this] { return !queue_.empty(); });
  }
}

bool Alarms::admit(std::chrono::steady_clock::time_point now) {
  while (!recent_starts_.empty() && now - recent_starts_.front() >= period_) recent_starts_.pop_front();
  return recent_starts_.size() < max_alarms_;
}

// Once the period lets alarms through again (or when kivo ends), the alarms
// held back go out as one summary per command: none is dropped.
void Alarms::deliver_held_back(std::chrono::steady_clock::time_point now, bool ending) {
  if (held_.empty() && held_uncounted_ == 0) return;
  if (!ending && !admit(now)) return;
  const long count = static_cast<long>(held_.size()) + held_uncounted_;
  report_(format("--on-bad: %ld alarm%s held back: more than %zu within %g s; delivered as one summary", count,
                 count == 1 ? "" : "s", max_alarms_, period_.count()));
  for (const bool recovery : {false, true}) {
    std::string list, checks;
    long listed = 0;
    int run = 0;
    for (const Request& held : held_) {
      if (held.recovery != recovery) continue;
      ++listed;
      run = held.run;
      list += (list.empty() ? "" : "; ") + held.what + ": " + held.reason;
    }
    const long more = recovery ? 0 : held_uncounted_;
    if (listed + more == 0) continue;
    Request summary;
    summary.command = recovery ? &on_good_ : &on_bad_;
    summary.recovery = recovery;
    summary.what = "the summary of alarms held back";
    const std::string reason = format("%ld alarm%s held back (more than %zu within %g s)", listed + more,
                                      listed + more == 1 ? "" : "s", max_alarms_, period_.count()) +
                               (list.empty() ? "" : ": " + list) +
                               (more > 0 ? format("; and %ld more not listed", more) : "");
    summary.environment = {"KIVO_CHECK=held_back", "KIVO_STAVE=", "KIVO_CHIP=", "KIVO_UNIT=",
                           std::string("KIVO_VERDICT=") + (recovery ? "Good" : "Bad"), "KIVO_REASON=" + reason,
                           "KIVO_RUN=" + std::to_string(run), "KIVO_HELD_BACK=" + std::to_string(listed + more)};
    start(summary, now);
  }
  held_.clear();
  held_uncounted_ = 0;
}

void Alarms::start(const Request& request, std::chrono::steady_clock::time_point now) {
  recent_starts_.push_back(now);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++counts_.raised;
  }
  const std::vector<std::string> environment = child_environment(request.environment);
  std::vector<char*> envp;
  for (const std::string& entry : environment) envp.push_back(const_cast<char*>(entry.c_str()));
  envp.push_back(nullptr);
  char* argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"), const_cast<char*>(request.command->c_str()),
                  nullptr};

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
    report_(std::string(option_of(request.recovery)) + " command for " + request.what +
            " could not start: " + std::strerror(error));
    return;
  }
  running_.push_back({pid, now, std::string(option_of(request.recovery)) + " command for " + request.what});
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
      report_(format("%s stopped after the time limit of %g s", it->what.c_str(), time_limit_.count()));
    } else if (done < 0) {
      report_(it->what + ": " + std::strerror(errno));
    } else {
      // What the shell started in the background ends with it.
      kill(-it->pid, SIGTERM);
      if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) report_(it->what + " failed: " + describe_status(status));
    }
    it = running_.erase(it);
  }
}

}  // namespace kivo::quality
