#include "Metrics.h"

#include <algorithm>

#include <charconv>
#include <cmath>
#include <string_view>

#include "CommandLine.h"
#include "HttpExchange.h"
#include "ProcessFigures.h"

namespace kivo::web {

namespace {

// Past this many addresses, those whose pages have closed are forgotten at
// once; an address beyond it while all are open is not counted.
constexpr std::size_t kMaxPageClients = 4096;
constexpr const char* kAxes[] = {"column", "row"};

std::string number_text(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
  char text[32];
  const auto written = std::to_chars(text, text + sizeof text, value);
  return std::string(text, written.ptr);
}

std::string label(std::string_view name, const std::string& value) {
  return std::string(name) + "=\"" + escape_label_value(value) + "\"";
}

std::string index_label(std::string_view name, int index) { return label(name, std::to_string(index)); }

std::string both(std::string first, const std::string& second) { return first.append(",").append(second); }

// The text of one scrape. A family's HELP and TYPE lines are written with its
// first sample, so that a family without samples leaves no lines.
class Exposition {
 public:
  void family(const char* name, const char* type, const char* help) {
    name_ = name;
    header_ = std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
  }
  // A sample of the family last begun; `labels` "name=\"value\"" joined by commas.
  void sample(double value, const std::string& labels = {}) {
    text_ += header_;
    header_.clear();
    text_ += name_ + (labels.empty() ? "" : "{" + labels + "}") + " " + number_text(value) + "\n";
  }
  void sample(const std::optional<double>& value) {
    if (value) sample(*value);
  }
  std::string take() { return std::move(text_); }

 private:
  std::string name_, header_, text_;
};

// Facts rather than figures, as info series of value 1: which KIVO serves,
// and the stand's name as kivo knows it. Prometheus labels the series with
// the stand of its target; the name here is for checking them against it.
void write_identity(Exposition& out, const std::string& stand) {
  out.family("kivo_build_info", "gauge", "The version of KIVO serving these figures, as a label; always 1.");
  out.sample(1, label("version", eventio::kivo_version()));
  out.family("kivo_stand_info", "gauge", "The stand's name given to kivo with --name (the host name by default); always 1.");
  out.sample(1, label("name", stand));
}

void write_activity(Exposition& out, const Activity::Reading& activity) {
  out.family("kivo_events_per_second", "gauge", "Events processed per second over the last 5 seconds.");
  out.sample(activity.rate);
  out.family("kivo_last_event_age_seconds", "gauge",
             "Seconds since the last event was processed (since kivo started, before the first).");
  out.sample(activity.idle_seconds);
}

void write_host(Exposition& out, const HostFigures& host) {
  out.family("kivo_events_processed_total", "counter", "Events handed to the monitor since kivo started.");
  out.sample(static_cast<double>(host.events_processed.load(std::memory_order_relaxed)));
  out.family("kivo_records_rejected_total", "counter",
             "Stream records the readers rejected (bad checksum, impossible length), over every source.");
  out.sample(static_cast<double>(host.records_rejected.load(std::memory_order_relaxed)));
  out.family("kivo_canvas_updates_total", "counter", "Canvas updates the monitor published.");
  out.sample(static_cast<double>(host.canvas_updates.load(std::memory_order_relaxed)));
  out.family("kivo_sources_open", "gauge", "Event sources queued that may still yield events.");
  out.sample(host.sources_open.load(std::memory_order_relaxed));
  out.family("kivo_run_number", "gauge", "Run number of the events being processed.");
  out.sample(host.run.load(std::memory_order_relaxed));
  out.family("kivo_run_data_events", "gauge", "Data events of the current run (the monitor's event counter).");
  out.sample(static_cast<double>(host.data_events.load(std::memory_order_relaxed)));
}

std::string verdict_labels(const QualityFigures::Verdict& verdict) {
  std::string labels = label("check", verdict.check);
  if (verdict.stave != QualityFigures::kNone) labels = both(labels, index_label("stave", verdict.stave));
  if (verdict.chip != QualityFigures::kNone) labels = both(labels, index_label("chip", verdict.chip));
  return labels;
}

void write_verdicts(Exposition& out, const QualityFigures& quality) {
  out.family("kivo_quality_verdict", "gauge",
             "Verdict of a data-quality check for a stave and chip: 0 Null, 1 Good, 2 Medium, 3 Bad.");
  for (const QualityFigures::Verdict& verdict : quality.verdicts) out.sample(verdict.value, verdict_labels(verdict));
  out.family("kivo_quality_overall_verdict", "gauge",
             "The most severe verdict of all checks: 0 Null, 1 Good, 2 Medium, 3 Bad.");
  out.sample(quality.overall);
  out.family("kivo_quality_overall_info", "gauge",
             "1, labelled with the overall verdict; a verdict made only of Null results is \"Null: not judged\", "
             "never Good (quality() and the run files say why).");
  static constexpr const char* kOverall[] = {"Null: not judged", "Good", "Medium", "Bad"};
  out.sample(1, label("verdict", kOverall[std::clamp(quality.overall, 0, 3)]));
}

void write_detector(Exposition& out, const QualityFigures& quality) {
  out.family("kivo_chip_hits_per_event", "gauge",
             "Hits per event with the detector packet, per chip, between the last two canvas refreshes.");
  if (quality.hits_per_event) {
    for (int s = 0; s < kMetricStaves; ++s)
      for (int c = 0; c < kMetricChips; ++c)
        out.sample((*quality.hits_per_event)[s][c], both(index_label("stave", s), index_label("chip", c)));
  }
  out.family("kivo_beam_centre_pixels", "gauge",
             "Fitted beam centre per stave: stave-wide column (0-9215) and displayed row (0-511).");
  for (int s = 0; s < kMetricStaves; ++s) {
    if (const auto& beam = quality.beams[s]) {
      out.sample(beam->column, both(index_label("stave", s), label("axis", kAxes[0])));
      out.sample(beam->row, both(index_label("stave", s), label("axis", kAxes[1])));
    }
  }
  out.family("kivo_beam_width_pixels", "gauge", "Fitted beam width (Gaussian sigma) per stave, in columns and rows.");
  for (int s = 0; s < kMetricStaves; ++s) {
    if (const auto& beam = quality.beams[s]) {
      out.sample(beam->column_width, both(index_label("stave", s), label("axis", kAxes[0])));
      out.sample(beam->row_width, both(index_label("stave", s), label("axis", kAxes[1])));
    }
  }
}

void write_tracks(Exposition& out, const QualityFigures& quality) {
  out.family("kivo_stave_efficiency", "gauge",
             "Share of the tracks of the other three staves that found a cluster of the stave where they point, "
             "between the last two canvas refreshes.");
  for (int s = 0; s < kMetricStaves; ++s)
    if (const auto& efficiency = quality.stave_efficiency[static_cast<std::size_t>(s)])
      out.sample(*efficiency, index_label("stave", s));
  out.family("kivo_tracks_total", "counter", "Tracks built for all staves since kivo started.");
  if (quality.tracks_total) out.sample(*quality.tracks_total);
}

void write_live(Exposition& out, const LiveCounts& counts) {
  out.family("kivo_alarms_raised_total", "counter", "Alarms raised for verdicts turning Bad (--on-bad).");
  out.sample(static_cast<double>(counts.alarms_raised));
  out.family("kivo_alarms_held_back_total", "counter",
             "Alarms whose command did not run: more than the limit within the period.");
  out.sample(static_cast<double>(counts.alarms_held_back));
  out.family("kivo_archive_runs_written_total", "counter", "Runs written to the archive (--archive).");
  out.sample(static_cast<double>(counts.runs_written));
  out.family("kivo_archive_runs_failed_total", "counter", "Runs that could not be written to the archive.");
  out.sample(static_cast<double>(counts.runs_failed));
  out.family("kivo_archive_written_bytes_total", "counter", "Bytes of the archive files written.");
  out.sample(static_cast<double>(counts.bytes_written));
  if (!counts.registry) return;
  out.family("kivo_registry_pending_rows", "gauge",
             "Rows (runs and certifications) waiting on disk for the run registry's database.");
  out.sample(static_cast<double>(counts.registry_pending));
  out.family("kivo_registry_rows_written_total", "counter", "Rows written to the run registry's database.");
  out.sample(static_cast<double>(counts.registry_written));
}

void write_process(Exposition& out, const std::optional<double>& start_time) {
  const ProcessFigures process = read_process_figures();
  out.family("process_cpu_seconds_total", "counter", "Total user and system CPU time spent in seconds.");
  out.sample(process.cpu_seconds);
  out.family("process_resident_memory_bytes", "gauge", "Resident memory size in bytes.");
  out.sample(process.resident_bytes);
  out.family("process_virtual_memory_bytes", "gauge", "Virtual memory size in bytes.");
  out.sample(process.virtual_bytes);
  out.family("process_open_fds", "gauge", "Number of open file descriptors.");
  out.sample(process.open_fds);
  out.family("process_max_fds", "gauge", "Maximum number of open file descriptors.");
  out.sample(process.max_fds);
  out.family("process_start_time_seconds", "gauge", "Start time of the process since unix epoch in seconds.");
  out.sample(start_time);
}

}  // namespace

std::string escape_label_value(const std::string& value) {
  std::string escaped;
  escaped.reserve(value.size());
  for (const char c : value) {
    if (c == '\\') escaped += "\\\\";
    else if (c == '"') escaped += "\\\"";
    else if (c == '\n') escaped += "\\n";
    else escaped += c;
  }
  return escaped;
}

void PageClients::polled(const std::string& address) {
  const auto now = std::chrono::steady_clock::now();
  std::lock_guard lock(mutex_);
  if (last_poll_.size() >= kMaxPageClients && !last_poll_.contains(address)) forget_closed(now);
  if (last_poll_.size() < kMaxPageClients || last_poll_.contains(address)) last_poll_[address] = now;
}

int PageClients::open() const {
  const auto since = std::chrono::steady_clock::now() - kOpenFor;
  std::lock_guard lock(mutex_);
  int count = 0;
  for (const auto& [address, time] : last_poll_)
    if (time >= since) ++count;
  return count;
}

void PageClients::forget_closed(std::chrono::steady_clock::time_point now) {
  std::erase_if(last_poll_, [since = now - kOpenFor](const auto& entry) { return entry.second < since; });
}

Metrics::Metrics() : start_time_(process_start_time()) {}

void Metrics::attach(std::shared_ptr<const Activity> activity, std::shared_ptr<const HostFigures> host) {
  std::lock_guard lock(mutex_);
  activity_ = std::move(activity);
  host_ = std::move(host);
}

void Metrics::publish(std::shared_ptr<const QualityFigures> quality) {
  std::lock_guard lock(mutex_);
  quality_ = std::move(quality);
}

void Metrics::set_live_counts(std::function<LiveCounts()> read) {
  std::lock_guard lock(live_mutex_);
  live_counts_ = std::move(read);
}

std::string Metrics::text() const {
  std::shared_ptr<const Activity> activity;
  std::shared_ptr<const HostFigures> host;
  std::shared_ptr<const QualityFigures> quality;
  {
    std::lock_guard lock(mutex_);
    activity = activity_;
    host = host_;
    quality = quality_;
  }
  Exposition out;
  write_identity(out, stand_);
  if (host) write_host(out, *host);
  if (activity) write_activity(out, activity->read());
  if (quality) {
    write_verdicts(out, *quality);
    write_detector(out, *quality);
    write_tracks(out, *quality);
  }
  {
    std::lock_guard lock(live_mutex_);
    if (live_counts_) write_live(out, live_counts_());
  }
  out.family("kivo_page_clients", "gauge", "Addresses with the live page open (polled within the last 5 seconds).");
  out.sample(page_clients_.open());
  write_process(out, start_time_);
  return out.take();
}

int Metrics::respond(mg_connection* connection, bool head) const {
  return send_text(connection, 200, kContentType, text(), "Cache-Control: no-store\r\n", head);
}

}  // namespace kivo::web
