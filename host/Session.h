// One kivo session: the loaded monitor, the event sources, the host's own
// commands in the shared registry, and the execution of command lines from
// -e, -x files and the prompt. Everything runs on one thread; commands run
// between two events. With a run archive, the monitor's objects are copied at
// the end of each run and written to a file on the archive's own thread.
#ifndef KIVO_HOST_SESSION_H
#define KIVO_HOST_SESSION_H

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Activity.h"
#include "CanvasRefresh.h"
#include "Evaluator.h"
#include "EventSources.h"
#include "LiveCanvas.h"
#include "Metrics.h"
#include "MetricsFeed.h"
#include "MonitorObjects.h"
#include "MonitorPlugin.h"
#include "Quality.h"
#include "Registry.h"
#include "RegistryWriter.h"
#include "RunArchive.h"
#include "Tracker.h"

class TCanvas;
class TList;
namespace kivo::web {
class WebDisplay;
}  // namespace kivo::web

namespace kivo::host {

// Where each run goes when it ends: with an archive directory, its file
// there (see RunArchive), named for the stand, and with a registry, its row
// (see registry::RegistryWriter).
struct RunRecording {
  std::string archive_directory;
  std::string stand;
  std::unique_ptr<registry::RegistryWriter> registry;
};

class Session {
 public:
  // Registers the host commands; `display` may be null (-b). The
  // data-quality checks run after every canvas refresh, as `quality` sets them up.
  Session(const MonitorPlugin& plugin, interp::Registry& registry, web::WebDisplay* display,
          RunRecording recording = {}, quality::Setup quality = {});
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Runs one line: a command, ".q", ".x FILE" or ".help"; `where` names its
  // origin in error lines. False when the line is invalid or its command failed.
  // A command stopped by Ctrl-C ends the line: interrupted() then tells so.
  bool execute(std::string_view line, const std::string& where);
  // Runs the lines of `path` in order, stopping at the first that fails or
  // is stopped by Ctrl-C.
  bool run_file(const std::string& path);

  EventSources& sources() { return sources_; }
  // Processes the next event if one is available now.
  bool process_next();
  // Processes up to `count` events (0: until the sources are exhausted),
  // waiting for followed sources; Ctrl-C stops it after the current event.
  std::uint64_t run(std::uint64_t count);
  // Processes what is available for about `budget_ms` milliseconds and
  // returns the number of events processed; `before_first` runs just before
  // the first of them.
  std::uint64_t process_slice(int budget_ms, const std::function<void()>& before_first);
  // Whether Ctrl-C stopped the last run(), or a run() of the last line executed.
  bool interrupted() const { return interrupted_; }
  // Waits up to `timeout_ms` for the current source to have data or the
  // display to want a region.
  void wait_for_data(int timeout_ms) const;
  // Copies the hit-map regions pages have zoomed into since the last canvas
  // update, if any, for the display.
  void serve_display();
  // Polled while the loop waits: readable when serve_display() has work; -1 without a display.
  int display_fd() const;
  // Polled beside it: readable when a client asks for an object (ROOT's web protocol).
  int objects_fd() const;
  // How long a wait may last before serve_display() has work that waits for
  // nothing to arrive; -1 for no limit.
  int display_wait_ms() const;
  // Redraws the canvas when the data have stopped with the display on, or
  // the refresh interval in seconds has passed, and events came since the
  // last redraw (CanvasRefresh.h); `before` runs just before a redraw.
  void refresh_if_due(const std::function<void()>& before = {});
  // How long the loop may wait for input before refresh_if_due() has work, in ms; -1: no limit.
  int refresh_wait_ms() const;
  // The refresh by time, every `seconds` while data events arrive (0: none);
  // empty, or what is wrong with `seconds`.
  std::string set_refresh_seconds(double seconds);

  // Once the prompt reads standard input, open("-") and follow("-") are refused.
  void reserve_standard_input() { standard_input_reserved_ = true; }
  bool background() const { return background_; }
  bool quit_requested() const { return quit_; }
  void request_quit() { quit_ = true; }
  // Renders the latest canvas to `path` (.png or .svg), hit maps at the
  // resolution the live page shows.
  bool snapshot(const std::string& path, std::string& error);
  // At exit: archives the run in progress, waits for the archive's writes
  // and gives the registry a last chance to take its rows. False when some
  // run could not be archived.
  bool finish();

 private:
  void process(Event& event);
  // Counts an event the monitor has processed, for sources() and /metrics.
  void count_event();
  std::uint64_t events_processed() const { return figures_->events_processed.load(std::memory_order_relaxed); }
  std::uint64_t canvas_updates() const { return figures_->canvas_updates.load(std::memory_order_relaxed); }
  // Has /metrics read the host's figures, the quality and the other threads' counts.
  void feed_metrics();
  void register_commands();
  static void remove_stale_mask_temporaries();
  void count_processed_event(const interp::Command& command);
  void add(interp::Command command);
  bool dot_command(std::string_view line, const std::string& where);
  void publish(const TCanvas& canvas);
  // Tells the display which objects there are now, for ROOT's web protocol.
  void list_objects();
  // Asks the monitor to redraw (its OM command), as the operator would.
  void redraw_canvas();
  // Runs the data-quality checks when the monitor has refreshed its canvas
  // since they last ran.
  void judge_after_refresh();
  // Runs the checks now and shows the result on the page.
  void judge_now();
  // The run archive's copy of the run that has just ended.
  bool copy_run(const RunFacts& facts, RunArchive::RunCopy& copy, std::string& error);
  std::optional<double> event_rate() const;
  void register_quality_commands();
  void keep_recent_maps();
  // Creates the track reconstruction when `settings` enable it and has the
  // monitor hand it every event's hits.
  void start_tracking(const tracking::Settings& settings);
  void register_registry_commands();
  // The archive's run, as the registry records it.
  void record_in_registry(const RunArchive::RecordedRun& run);
  // Hands the page the data quality as it stands now.
  void publish_quality();
  void print_help() const;
  void print_sources() const;
  void note_sources();
  interp::Value next_event();

  const MonitorPlugin& plugin_;
  interp::Registry& registry_;
  interp::Evaluator evaluator_;
  web::WebDisplay* display_;
  MonitorObjects objects_;
  // Declared before the archive, whose writer thread hands it the runs: it
  // goes after the archive.
  std::unique_ptr<registry::RegistryWriter> run_registry_;  // null without a registry
  std::string stand_;
  std::unique_ptr<RunArchive> archive_;  // null without --archive
  EventSources sources_;
  std::vector<std::unique_ptr<Event>> held_events_;  // from next_event(), freed after the line
  std::unique_ptr<tracking::Tracker> tracker_;  // null with tracking off
  std::unique_ptr<quality::Quality> quality_;
  std::string quality_inputs_missing_;  // what the monitor library lacks for the checks
  bool refreshed_ = false;  // a canvas refresh not judged yet
  CanvasRefresh refresh_;
  const TCanvas* canvas_ = nullptr;                    // last canvas updated
  web::LiveCanvas live_canvas_;
  std::shared_ptr<web::LiveFrame> latest_frame_;            // as last published to the display
  std::shared_ptr<web::Activity> activity_ = std::make_shared<web::Activity>();
  std::shared_ptr<web::HostFigures> figures_ = std::make_shared<web::HostFigures>();
  MetricsFeed metrics_feed_;
  std::uint64_t judged_at_event_ = 0;  // events processed when the checks last ran
  long objects_version_ = 0;  // changes with every event and command: the objects may have changed
  bool background_ = true;
  bool quit_ = false;
  bool interrupted_ = false;
  bool standard_input_reserved_ = false;
  int file_depth_ = 0;
};

// Reports one host message on standard error: "kivo: <message>".
void report(const std::string& message);

}  // namespace kivo::host

#endif
