// --on-bad CMD and --on-good CMD: CMD runs through /bin/sh -c once for each
// alarm: a stave (or the whole detector) whose verdicts turn Bad, with every
// result that turned Bad at that judgement in one digest, and, with
// --on-good, once the last Bad verdict of that stave has cleared. Its
// environment holds KIVO_CHECK, KIVO_STAVE, KIVO_CHIP, KIVO_UNIT,
// KIVO_VERDICT, KIVO_REASON and KIVO_RUN. The commands run on a thread of their own:
// raising an alarm only queues it, so event processing never waits for one.
// Each command runs in its own process group, with standard input from
// /dev/null and its output on kivo's standard error; one still running at
// the time limit is killed with its group, and what its shell left running
// in the group is ended when the shell exits. Failures are reported. At most
// `max_alarms` start within `period_seconds`; the alarms held back are
// delivered as one summary once the period lets alarms through again.
#ifndef KIVO_HOST_QUALITY_ALARMS_H
#define KIVO_HOST_QUALITY_ALARMS_H

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

// One alarm: what turned Bad (or cleared, with verdict Good).
struct Alarm {
  std::string check;  // one check, or several joined by ","
  int stave = kNone;
  int chip = kNone;   // set only when the alarm concerns one chip
  Verdict verdict = Verdict::Bad;
  std::string reason;
  int run = 0;
  // A readout unit whose loss the alarm is about, and the staves it serves.
  int unit = kNone;
  std::vector<int> staves = {};
};

struct AlarmCounts {
  long raised = 0, held_back = 0;
};

class Alarms {
 public:
  using Report = std::function<void(const std::string&)>;

  // `on_good` may be empty: recoveries then raise nothing.
  Alarms(std::string on_bad, std::string on_good, const AlarmConfig& config, Report report);
  // Waits for the commands still running (each up to its time limit).
  ~Alarms();
  Alarms(const Alarms&) = delete;
  Alarms& operator=(const Alarms&) = delete;

  // Queues `alarm`: Bad for --on-bad, Good for --on-good.
  void raise(const Alarm& alarm);
  // Commands started, and alarms held back by the limit, so far.
  AlarmCounts counts() const;

 private:
  struct Request {
    const std::string* command;
    std::vector<std::string> environment;  // KIVO_* assignments
    std::string what;                      // names the alarm in messages
    std::string reason;
    int run = 0;
    bool recovery = false;
  };
  struct Running {
    int pid;
    std::chrono::steady_clock::time_point started;
    std::string what;
  };

  void work();
  bool admit(std::chrono::steady_clock::time_point now);
  void deliver_held_back(std::chrono::steady_clock::time_point now, bool ending);
  void start(const Request& request, std::chrono::steady_clock::time_point now);
  void reap(std::chrono::steady_clock::time_point now);

  const std::string on_bad_, on_good_;
  const std::chrono::duration<double> time_limit_;
  const std::size_t max_alarms_;
  const std::chrono::duration<double> period_;
  const Report report_;

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Request> queue_;
  long held_back_queued_ = 0;  // refused because the queue was full
  bool stopping_ = false;
  AlarmCounts counts_;

  // Worker thread only.
  std::vector<Running> running_;
  std::deque<std::chrono::steady_clock::time_point> recent_starts_;
  std::vector<Request> held_;
  long held_uncounted_ = 0;  // held back beyond what a summary lists
  std::thread worker_;
};

}  // namespace kivo::quality

#endif
