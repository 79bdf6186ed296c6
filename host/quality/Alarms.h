// --on-bad CMD: runs CMD through /bin/sh -c once for each verdict that turns
// Bad, with KIVO_CHECK, KIVO_STAVE, KIVO_CHIP, KIVO_VERDICT, KIVO_REASON and
// KIVO_RUN in its environment. The commands run on a thread of their own:
// raising an alarm only queues it, so event processing never waits for one.
// Each command runs in its own process group, with standard input from
// /dev/null and its output on kivo's standard error; one still running at
// the time limit is killed with its group. Failures are reported. At most
// `max_alarms` start within `period_seconds`; the rest are held back, and
// how many is reported once the period lets alarms through again.
#ifndef KIVO_HOST_QUALITY_ALARMS_H
#define KIVO_HOST_QUALITY_ALARMS_H

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Config.h"
#include "Verdict.h"

namespace kivo::quality {

// Alarms since kivo started: raised (every verdict that turned Bad) and, of
// those, held back by the limit instead of running the command.
struct AlarmCounts {
  long raised = 0, held_back = 0;
};

class Alarms {
 public:
  using Report = std::function<void(const std::string&)>;

  Alarms(std::string command, const AlarmConfig& config, Report report);
  // Waits for the commands still running (each up to its time limit).
  ~Alarms();
  Alarms(const Alarms&) = delete;
  Alarms& operator=(const Alarms&) = delete;

  // Queues the alarm for `result`, which has just turned Bad, in run `run`.
  void raise(const Result& result, int run);
  // Any thread.
  AlarmCounts counts() const;

 private:
  struct Request {
    std::vector<std::string> environment;  // KIVO_* assignments
    std::string what;                      // names the change in messages
  };
  struct Running {
    int pid;
    std::chrono::steady_clock::time_point started;
    std::string what;
  };

  void work();
  bool admit(std::chrono::steady_clock::time_point now);
  void report_held_back(std::chrono::steady_clock::time_point now);
  void start(const Request& request, std::chrono::steady_clock::time_point now);
  void reap(std::chrono::steady_clock::time_point now);

  const std::string command_;
  const std::chrono::duration<double> time_limit_;
  const std::size_t max_alarms_;
  const std::chrono::duration<double> period_;
  const Report report_;

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Request> queue_;
  long held_back_queued_ = 0;  // refused because the queue was full
  bool stopping_ = false;

  // Worker thread only.
  std::vector<Running> running_;
  std::deque<std::chrono::steady_clock::time_point> recent_starts_;
  long held_back_ = 0;
  std::atomic<long> raised_total_{0};
  std::atomic<long> held_back_total_{0};
  std::thread worker_;
};

}  // namespace kivo::quality

#endif
