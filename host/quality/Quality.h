// The data-quality subsystem of the host: after each canvas refresh (and on
// request) it reads the monitor, runs every enabled check, keeps each
// verdict with since when it holds, logs the changes, raises alarms for
// those that turn Bad and extends the trends. It reads the monitor's
// objects and never changes them; it hands the monitor only the hot pixels
// to leave out of the stave correlations.
#ifndef KIVO_HOST_QUALITY_QUALITY_H
#define KIVO_HOST_QUALITY_QUALITY_H

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Alarms.h"
#include "Checks.h"
#include "Config.h"
#include "History.h"
#include "QualityLog.h"
#include "Reading.h"
#include "ReferenceRun.h"
#include "QualityView.h"
#include "Trends.h"
#include "Verdict.h"

class TH1D;
class TList;
class TNamed;

namespace kivo::tracking {
class Tracker;
}  // namespace kivo::tracking

namespace kivo::quality {

// What the command line chose.
struct Setup {
  Config config = default_config();
  std::unique_ptr<QualityLog> log;      // --quality-log, or none
  std::string on_bad;                   // --on-bad, or empty
  std::string on_good;                  // --on-good, or empty
  std::optional<ReferenceRun> reference;  // --reference, or none
};

class Quality {
 public:
  using Report = std::function<void(const std::string&)>;

  // Without inputs (a monitor library that lacks them) nothing is judged.
  Quality(Setup setup, std::optional<MonitorInputs> inputs, Report report);
  ~Quality();
  Quality(const Quality&) = delete;
  Quality& operator=(const Quality&) = delete;

  bool available() const { return inputs_.has_value(); }
  // Reads the monitor and judges it; `event_rate` (events per second) goes
  // into the trends when known. The readings keep_up took since the last
  // judgement are judged first, one by one, oldest first: a judgement of
  // many windows' worth of new events (the end of a file without a refresh
  // interval) judges the recent windows the history holds as refreshes
  // would have, so that a lasting fault is confirmed.
  void evaluate(std::optional<double> event_rate);
  // Between two events: takes a reading, not judged yet, when the shortest
  // window of events (occupancy's min_events) came since the last one.
  void keep_up();

  const std::vector<TrackedResult>& results() const { return results_; }
  Verdict overall() const { return combined(results_); }
  // How many rows (check and stave) cannot judge now (Null), a check
  // without what it compares with (no reference run loaded) left out.
  int not_judging() const;
  // "Good", "Bad, 2 checks not judging"; for a verdict made only of Null
  // results "Null: not judged (why)", never Good.
  std::string overall_text() const;
  // Why nothing is judged: too few events, or the first check's reason.
  std::string not_judged_reason() const;
  const Config& config() const { return setup_.config; }
  const Trends& trends() const { return trends_; }
  const ReferenceRun* reference() const { return setup_.reference ? &*setup_.reference : nullptr; }
  // The last reading judged, when there is one.
  const Reading* reading() const { return history_.newest(); }
  // The alarm commands started and the alarms held back so far (zeros
  // without --on-bad and --on-good); any thread.
  AlarmCounts alarm_counts() const { return alarms_ ? alarms_->counts() : AlarmCounts{}; }
  // Replaces the reference run; the verdicts follow at the next evaluation.
  void set_reference(ReferenceRun reference);
  // The track reconstruction whose objects the checks on tracks read (null:
  // tracking is off). It belongs to the caller and outlives this.
  void attach_tracking(tracking::Tracker* tracker) { tracking_ = tracker; }
  tracking::Tracker* tracking() const { return tracking_; }

  // What the live page shows now, copied for another thread to serialise.
  std::shared_ptr<const QualityView> view(std::optional<double> event_rate) const;
  // The quality() table: one row per check and stave.
  std::string table(std::optional<double> event_rate) const;
  // Adds the verdicts (as TNamed "quality_<check>[_<stave>[_<chip>]]", title
  // "<verdict>: <reason>"), the trend graphs and the hits of each stave per
  // column and per row without its hot pixels (TH1D
  // "quality_double_column_hits_<stave>", "quality_row_hits_<stave>", which a
  // reference run is compared by) to `list`; they stay valid until the next
  // call or evaluation.
  void add_saved_objects(TList& list) const;

 private:
  // Adds a reading of the monitor now; true when it starts the history anew.
  bool add_reading();
  void judge(Reading& now, std::optional<double> event_rate, bool fresh);
  void track(std::vector<Result> results, const Since& since, bool fresh);
  void log_change(const TrackedResult& tracked, Verdict old);
  void raise_alarms(const std::vector<const TrackedResult*>& turned_bad, const Since& since);
  void extend_trends(const Reading& reading, std::optional<double> event_rate);

  Setup setup_;
  std::optional<MonitorInputs> inputs_;
  tracking::Tracker* tracking_ = nullptr;
  Report report_;
  std::unique_ptr<Alarms> alarms_;
  History history_;
  RunMemory memory_;
  Trends trends_;
  std::vector<TrackedResult> results_;
  // The groups whose alarm is raised and whose verdicts have not all left
  // Bad since.
  // Staves, the detector (kStaves) and the readout units after it.
  std::vector<bool> alarmed_;
  double judged_events_ = -1;  // the data events of the last judgement
  int judged_run_ = -1;
  // The counts of the reading of the last trend point, which the next one's
  // rates are taken against.
  struct TrendBase {
    double data_events = 0, events = 0;
    std::array<double, kStaves> hits{};
  };
  std::optional<TrendBase> last_trend_;
  mutable std::vector<std::unique_ptr<TNamed>> saved_;
  mutable std::vector<std::unique_ptr<TH1D>> saved_profiles_;
  bool log_failing_ = false;
};

// The longest window of the configuration, in events.
double longest_window(const Config& config);

}  // namespace kivo::quality

#endif
