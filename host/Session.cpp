#include "Session.h"

#include <poll.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>
#include <utility>

#include "ArchiveCopy.h"
#include "CanvasPublisher.h"
#include "CommandFile.h"
#include "EventRecord.h"
#include "Interrupt.h"
#include "ObjectServing.h"
#include "RootJSON.h"
#include "Snapshot.h"
#include "TCanvas.h"
#include "TemporaryFiles.h"
#include "WebDisplay.h"

namespace kivo::host {

namespace {

constexpr const char* kHostOwner = "host";
constexpr int kMaxFileDepth = 16;
constexpr int kFollowPollMs = 50;
// How long kivo waits at exit for the registry to take the rows that wait;
// what it has not taken stays on disk for the next kivo.
constexpr std::chrono::seconds kRegistryPatience{10};
// Editors on some systems start a UTF-8 text file with it.
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::string_view trim(std::string_view text) {
  const char* blanks = " \t\r\n";
  std::size_t first = text.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

bool comment(std::string_view line) {
  return line.empty() || line.substr(0, 2) == "//" || line[0] == '#';
}

// The monitor's commands answer -1 when they fail, after saying why (a mask
// file that cannot be written, histograms not booked): such a call counts as
// a failed command, so that a batch run stops there with a failure status.
bool monitor_command_failed(const interp::Command& command, const interp::Value& result) {
  return command.owner != kHostOwner && result.type() == interp::Type::Int &&
         result.as_int() == -1;
}

}  // namespace

void report(const std::string& message) {
  std::fflush(stdout);
  std::fprintf(stderr, "kivo: %s\n", message.c_str());
}

Session::Session(const MonitorPlugin& plugin, interp::Registry& registry, web::WebDisplay* display,
                 RunRecording recording, quality::Setup quality)
    : plugin_(plugin),
      registry_(registry),
      evaluator_(registry,
                 [this](const interp::Command& command, const interp::Value& result) {
                   count_processed_event(command);
                   return monitor_command_failed(command, result);
                 }),
      display_(display),
      objects_(plugin),
      run_registry_(std::move(recording.registry)),
      stand_(recording.stand),
      refresh_(display != nullptr, CanvasRefresh::Clock::now()),
      live_canvas_(objects_.hit_maps()) {
  if (display_) display_->attach(activity_);
  remove_stale_mask_temporaries();
  start_tracking(quality.config.tracking);
  std::optional<quality::MonitorInputs> inputs = quality::resolve_inputs(
      [&plugin](const char* name) { return plugin.symbol(name); }, quality_inputs_missing_);
  quality_ = std::make_unique<quality::Quality>(std::move(quality), inputs, report);
  quality_->attach_tracking(tracker_.get());
  if (display_) keep_recent_maps();
  if (!recording.archive_directory.empty()) {
    RunArchive::Recorded recorded;
    if (run_registry_) recorded = [this](const RunArchive::RecordedRun& run) { record_in_registry(run); };
    archive_ = std::make_unique<RunArchive>(
        recording.archive_directory,
        [this](const RunFacts& facts, RunArchive::RunCopy& copy, std::string& error) {
          return copy_run(facts, copy, error);
        },
        std::move(recorded), stand_);
  }
  objects_.keep_also([this](TList& list) {
    quality_->add_saved_objects(list);
    if (tracker_) tracker_->add_saved_objects(list);
  });
  register_commands();
  register_quality_commands();
  register_registry_commands();
  feed_metrics();
  publish_quality();
  rootcompat::SetCanvasPublisher([this](const TCanvas& canvas) { publish(canvas); });
}

Session::~Session() {
  if (tracker_) plugin_.symbols().set_hit_sink(nullptr);
  if (display_) display_->metrics().set_live_counts(nullptr);
  rootcompat::SetCanvasPublisher(nullptr);
  registry_.remove_owner(kHostOwner);
}

// The page's recent hit maps cover the occupancy check's shortest window,
// so that they show what that check judges.
void Session::keep_recent_maps() {
  const double window = quality_->config().occupancy.min_events;
  const int events = window >= 1 && window <= std::numeric_limits<int>::max() ? static_cast<int>(window) : 0;
  plugin_.symbols().set_recent_window(events);
}

void Session::start_tracking(const tracking::Settings& settings) {
  if (!settings.enabled) return;
  tracker_ = std::make_unique<tracking::Tracker>(settings, [](const std::string& line) { report(line); });
  const KivoHitSink sink = tracking::hit_sink_of(*tracker_);
  plugin_.symbols().set_hit_sink(&sink);
}

// An event handed to the monitor's process_event at the prompt, as in
// process_event(next_event()), is processed as much as one the host reads.
void Session::count_processed_event(const interp::Command& command) {
  if (command.owner != kHostOwner && command.name == "process_event") count_event();
}

// Stores only: a scrape reads these without waiting for this thread.
void Session::count_event() {
  ++objects_version_;
  web::HostFigures::add_one(figures_->events_processed);
  figures_->run.store(*plugin_.symbols().kivo_run, std::memory_order_relaxed);
  figures_->data_events.store(*plugin_.symbols().kivo_evnts, std::memory_order_relaxed);
  figures_->records_rejected.store(sources_.records_rejected(), std::memory_order_relaxed);
}

void Session::feed_metrics() {
  if (!display_) return;
  display_->metrics().attach(activity_, figures_);
  display_->metrics().set_live_counts([this] {
    const quality::AlarmCounts alarms = quality_->alarm_counts();
    const RunArchive::ArchiveCounts archived = archive_ ? archive_->counts() : RunArchive::ArchiveCounts{};
    web::LiveCounts counts{alarms.raised, alarms.held_back, archived.written, archived.failed,
                           static_cast<std::uint64_t>(archived.bytes)};
    if (run_registry_) {
      counts.registry = true;
      counts.registry_pending = long(run_registry_->pending());
      counts.registry_written = long(run_registry_->written());
    }
    return counts;
  });
}

// A kivo killed while writing the mask files leaves their temporaries behind.
void Session::remove_stale_mask_temporaries() {
  const int removed = eventio::remove_stale_temporaries_in(KIVO_MASK_DIR);
  if (removed > 0)
    report("removed " + std::to_string(removed) + " temporary file" + (removed == 1 ? "" : "s") +
           " left in the mask directory by a kivo that ended");
}

void Session::add(interp::Command command) {
  command.owner = kHostOwner;
  std::string error;
  if (!registry_.add(std::move(command), error)) report(error);
}

bool Session::execute(std::string_view line, const std::string& where) {
  interrupted_ = false;
  std::string_view text = trim(line);
  if (comment(text)) return true;
  ++objects_version_;
  if (text[0] == '.') return dot_command(text, where);
  interp::Evaluation evaluation = evaluator_.evaluate(text);
  held_events_.clear();
  judge_after_refresh();
  std::fflush(stdout);
  if (!evaluation.ok()) {
    report(where + ": " + interp::describe(*evaluation.error));
    return false;
  }
  note_sources();
  std::string result = interp::format_result(evaluation.value);
  if (evaluation.show_result && !result.empty()) {
    std::printf("%s\n", result.c_str());
    std::fflush(stdout);
  }
  return true;
}

bool Session::dot_command(std::string_view line, const std::string& where) {
  std::string_view word = line.substr(0, line.find_first_of(" \t"));
  std::string_view rest = trim(line.substr(word.size()));
  if ((word == ".q" || word == ".quit" || word == ".exit") && rest.empty()) {
    quit_ = true;
    return true;
  }
  if (word == ".help" && rest.empty()) {
    print_help();
    return true;
  }
  if (word == ".x" && rest.empty()) {
    report(where + ": column 1: .x needs a FILE: .x FILE runs the commands of FILE");
    return false;
  }
  if (word == ".x") return run_file(std::string(rest));
  report(where + ": column 1: unknown prompt command '" + std::string(line) +
         "' (known: .q, .x FILE, .help)");
  return false;
}

bool Session::run_file(const std::string& path) {
  CommandFile file;
  if (const std::string problem = file.open(path); !problem.empty()) {
    report(".x " + path + ": " + problem);
    return false;
  }
  if (file_depth_ >= kMaxFileDepth) {
    report(".x " + path + ": command files nested more than " + std::to_string(kMaxFileDepth) +
           " deep");
    return false;
  }
  ++file_depth_;
  int number = 0;
  bool ok = true;
  while (ok && !quit_ && !interrupted_) {
    std::optional<std::string> line = file.next_line();
    if (!line) break;
    if (number == 0 && line->starts_with(kByteOrderMark)) line->erase(0, kByteOrderMark.size());
    ok = execute(*line, path + ":" + std::to_string(++number));
  }
  --file_depth_;
  if (!file.problem().empty()) {
    report(".x " + path + ": " + file.problem());
    return false;
  }
  return ok;
}

void Session::process(Event& event) {
  const int type = event.getEvtType();
  const int run = event.getRunNumber();
  if (archive_) archive_->before_event(type, run);
  const std::uint64_t updates_before = canvas_updates();
  plugin_.process_event(&event);
  count_event();
  if (archive_) archive_->after_event(type, run, sources_.last_source());
  activity_->record_event();
  if (type == eventio::kEndRunEventType) activity_->record_run_end(run);
  activity_->set_monitor_events(objects_.events());
  const auto now = CanvasRefresh::Clock::now();
  if (type == eventio::kDataEventType && canvas_updates() == updates_before) refresh_.data_event(now);
  if (refresh_.due_after_event(type == eventio::kEndRunEventType, now)) redraw_canvas();
  serve_display();
  judge_after_refresh();
  quality_->keep_up();
}

void Session::refresh_if_due(const std::function<void()>& before) {
  if (!refresh_.due_while_idle(sources_.exhausted(), CanvasRefresh::Clock::now())) return;
  if (before) before();
  redraw_canvas();
  judge_after_refresh();
}

int Session::refresh_wait_ms() const { return refresh_.idle_wait_ms(CanvasRefresh::Clock::now()); }

std::string Session::set_refresh_seconds(double seconds) { return refresh_.set_interval(seconds); }

// Counts as a redraw even when the monitor publishes nothing, so that it is
// not asked again and again.
void Session::redraw_canvas() {
  const interp::Command* redraw = registry_.find("OM");
  if (redraw != nullptr && redraw->owner != kHostOwner) redraw->invoke({});
  refresh_.redrawn(CanvasRefresh::Clock::now());
  std::fflush(stdout);
}

bool Session::finish() {
  if (!archive_) return true;
  archive_->finish();
  if (run_registry_) run_registry_->finish(kRegistryPatience);
  return !archive_->failed();
}

// Regions are copied as soon as the budget allows; a take that yields none
// publishes nothing, so that the display is not woken at every event.
void Session::serve_display() {
  if (!display_) return;
  serve_objects(display_->objects(), objects_, plugin_, objects_version_);
  if (!display_->zooms().new_regions()) return;
  const std::vector<web::MapRegion> regions = display_->zooms().take_new();
  if (!regions.empty()) display_->publish(live_canvas_.regions(regions));
}

int Session::display_wait_ms() const {
  if (!display_) return -1;
  const int zooms = display_->zooms().wait_ms(), objects = display_->objects().wait_ms();
  return zooms < 0 ? objects : objects < 0 ? zooms : std::min(zooms, objects);
}

int Session::objects_fd() const { return display_ ? display_->objects().wake_fd() : -1; }

void Session::list_objects() {
  if (display_) display_->objects().list(shelf_entries(objects_));
}

int Session::display_fd() const { return display_ ? display_->zooms().wake_fd() : -1; }

void Session::note_sources() {
  figures_->sources_open.store(sources_.unfinished(), std::memory_order_relaxed);
  figures_->records_rejected.store(sources_.records_rejected(), std::memory_order_relaxed);
  activity_->set_sources(!sources_.opened()    ? web::Activity::Sources::none
                         : sources_.exhausted() ? web::Activity::Sources::finished
                                                : web::Activity::Sources::open);
}

void Session::judge_after_refresh() {
  if (!refreshed_) return;
  refreshed_ = false;
  judge_now();
}

void Session::judge_now() {
  quality_->evaluate(event_rate());
  judged_at_event_ = events_processed();
  publish_quality();
}

// The verdicts a run's file keeps are those of its end: judged now when
// events came since the checks last ran (with the refresh off, not at all).
bool Session::copy_run(const RunFacts& facts, RunArchive::RunCopy& copy, std::string& error) {
  if (quality_->available() && judged_at_event_ != events_processed()) judge_now();
  return copy_monitor_run(plugin_, *quality_, tracker_.get(), facts, copy, error);
}

// Not measured before the first event.
std::optional<double> Session::event_rate() const {
  const web::Activity::Reading reading = activity_->read();
  if (reading.events == 0) return std::nullopt;
  return reading.rate;
}

bool Session::process_next() {
  std::unique_ptr<Event> event = sources_.next();
  if (!event) return false;
  process(*event);
  return true;
}

std::uint64_t Session::run(std::uint64_t count) {
  take_interrupt();  // a Ctrl-C from before the command does not cancel it
  std::uint64_t processed = 0;
  // A Ctrl-C from before the command is dropped, a request to end is not.
  while ((count == 0 || processed < count) && !interrupt_pending() && !termination_requested()) {
    if (process_next()) {
      ++processed;
    } else if (sources_.exhausted()) {
      break;
    } else if (!sources_.more_available()) {
      note_sources();
      refresh_if_due();
      wait_for_data(kFollowPollMs);
      serve_display();
    }
  }
  note_sources();
  refresh_if_due();
  std::fflush(stdout);
  interrupted_ = take_interrupt() || termination_requested();
  if (interrupted_ && termination_requested())
    report(std::string(termination_requested() == SIGHUP ? "SIGHUP" : "SIGTERM") + ": ending after " +
           std::to_string(processed) + " events");
  else if (interrupted_)
    report("interrupted after " + std::to_string(processed) + " events");
  return processed;
}

std::uint64_t Session::process_slice(int budget_ms, const std::function<void()>& before_first) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(budget_ms);
  std::uint64_t processed = 0;
  for (;;) {
    std::unique_ptr<Event> event = sources_.next();
    if (!event) {
      if (!sources_.more_available() || std::chrono::steady_clock::now() >= deadline) break;
      continue;
    }
    if (processed == 0) before_first();
    process(*event);
    ++processed;
    if (processed % 64 == 0 && std::chrono::steady_clock::now() >= deadline) break;
  }
  note_sources();
  std::fflush(stdout);
  return processed;
}

void Session::wait_for_data(int timeout_ms) const {
  pollfd fds[4] = {{display_fd(), POLLIN, 0}, {sources_.poll_fd(), POLLIN, 0}, {interrupt_fd(), POLLIN, 0},
                   {objects_fd(), POLLIN, 0}};
  const int display_wait = display_wait_ms();
  if (display_wait >= 0 && (timeout_ms < 0 || display_wait < timeout_ms)) timeout_ms = display_wait;
  if (poll(fds, 4, timeout_ms) > 0 && (fds[2].revents & POLLIN)) drain_interrupt_fd();
}

// The canvas is copied here only for a web display, which serialises the
// copy on its own thread; without one, a snapshot copies it when asked.
void Session::publish(const TCanvas& canvas) {
  web::HostFigures::add_one(figures_->canvas_updates);
  refresh_.redrawn(CanvasRefresh::Clock::now());
  canvas_ = &canvas;
  refreshed_ = true;
  if (!display_) return;
  const web::ZoomRequests::Turn regions = display_->zooms().take_all();
  latest_frame_ = live_canvas_.frame(canvas, regions.copy, objects_.run(), objects_.events());
  latest_frame_->kept_regions = regions.keep;
  display_->publish(latest_frame_);
}

bool Session::snapshot(const std::string& path, std::string& error) {
  if (!canvas_) {
    error = path + ": no canvas has been drawn yet (OM() draws it)";
    return false;
  }
  const std::shared_ptr<web::LiveFrame> frame =
      latest_frame_ ? latest_frame_ : live_canvas_.frame(*canvas_, {}, objects_.run(), objects_.events());
  return web::render_snapshot(rootcompat::ToJSON(frame->canvas->GetCanvas()), path, error);
}

}  // namespace kivo::host
