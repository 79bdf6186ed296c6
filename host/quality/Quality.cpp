#include "Quality.h"

#include <algorithm>
#include <cctype>
#include <ctime>

#include "TGraphAsymmErrors.h"
#include "TList.h"
#include "TNamed.h"

namespace kivo::quality {

namespace {

bool same_key(const Result& a, const Result& b) {
  return a.stave == b.stave && a.chip == b.chip && a.check == b.check;
}

std::string index_text(int value) { return value == kNone ? "-" : std::to_string(value); }

std::string local_time(std::chrono::system_clock::time_point time, const char* pattern) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
  std::tm parts{};
  localtime_r(&seconds, &parts);
  char text[64];
  std::strftime(text, sizeof text, pattern, &parts);
  return text;
}

std::string pad(std::string text, std::size_t width) {
  if (text.size() < width) text.append(width - text.size(), ' ');
  return text;
}

std::string saved_name(const Result& result) {
  std::string name = "quality_" + result.check;
  for (int index : {result.stave, result.chip})
    if (index != kNone) name.append("_").append(std::to_string(index));
  return name;
}

// Hits per event of each stave between two readings of the same run, the
// first given by its events and hits.
std::array<double, kStaves> hits_per_event(const Reading& now, double events_before,
                                           const std::array<double, kStaves>& hits_before) {
  std::array<double, kStaves> rates{};
  const double events = now.events - events_before;
  for (std::size_t s = 0; s < kStaves; ++s) {
    const double hits = now.staves[s].hits - hits_before[s];
    rates[s] = events > 0 ? hits / events : 0;
  }
  return rates;
}

}  // namespace

double longest_window(const Config& config) {
  return std::max({config.dead_chip.window_events, config.hit_rate.window_events, config.alignment.window_events,
                   config.synchronisation.window_events, config.missing_packet.window_events});
}

Quality::Quality(Setup setup, std::optional<MonitorInputs> inputs, Report report)
    : setup_(std::move(setup)),
      inputs_(inputs),
      report_(std::move(report)),
      history_(longest_window(setup_.config)) {
  if (!setup_.on_bad.empty()) alarms_ = std::make_unique<Alarms>(setup_.on_bad, setup_.config.alarm, report_);
}

Quality::~Quality() = default;

void Quality::set_reference(ReferenceRun reference) { setup_.reference = std::move(reference); }

void Quality::evaluate(std::optional<double> event_rate) {
  if (!inputs_) return;
  Reading reading = read_monitor(*inputs_, setup_.config.hot_pixels);
  if (!history_.newest() || reading.run != history_.newest()->run) {
    memory_ = RunMemory{};
    trends_.clear();
    last_trend_.reset();
  }
  history_.add(std::move(reading));
  if (history_.restarted()) last_trend_.reset();
  const Reading& now = *history_.newest();
  const Context context{setup_.config, now, history_, reference(), memory_};
  track(judge_all(context), Since{now.run, static_cast<long>(now.data_events), std::chrono::system_clock::now()});
  update_correlation_masks(*inputs_, now, memory_.masks);
  extend_trends(now, event_rate);
}

void Quality::track(std::vector<Result> results, const Since& since) {
  std::vector<TrackedResult> tracked;
  tracked.reserve(results.size());
  for (std::size_t i = 0; i < results.size(); ++i) {
    Result& result = results[i];
    // The checks give their results in the same order at every refresh, so
    // the last result at the same place is most likely the one to follow.
    const auto same = [&result](const TrackedResult& t) { return same_key(t.result, result); };
    const auto before = i < results_.size() && same(results_[i])
                            ? results_.begin() + static_cast<long>(i)
                            : std::find_if(results_.begin(), results_.end(), same);
    const Verdict old = before == results_.end() ? Verdict::Null : before->result.verdict;
    const bool changed = old != result.verdict;
    tracked.push_back({std::move(result), changed || before == results_.end() ? since : before->since});
    if (changed) announce(tracked.back(), old);
  }
  results_ = std::move(tracked);
}

void Quality::announce(const TrackedResult& tracked, Verdict old) {
  if (setup_.log) {
    std::string error;
    const bool written = setup_.log->append({tracked.result, tracked.since, old}, error);
    if (!written && !log_failing_) report_("--quality-log " + error);
    log_failing_ = !written;
  }
  if (alarms_ && tracked.result.verdict == Verdict::Bad) alarms_->raise(tracked.result, tracked.since.run);
}

void Quality::extend_trends(const Reading& reading, std::optional<double> event_rate) {
  if (last_trend_ && last_trend_->data_events == reading.data_events && last_trend_->events == reading.events) return;
  TrendPoint point{reading.data_events, event_rate, overall(), {}};
  for (int s = 0; s < kStaves; ++s) point.stave_verdicts[static_cast<std::size_t>(s)] = combined(results_, s);
  const TrendBase before = last_trend_.value_or(TrendBase{});
  trends_.add(reading, hits_per_event(reading, before.events, before.hits), point);
  TrendBase& base = last_trend_.emplace(TrendBase{reading.data_events, reading.events, {}});
  for (std::size_t s = 0; s < kStaves; ++s) base.hits[s] = reading.staves[s].hits;
}

std::string Quality::table(std::optional<double> event_rate) const {
  if (!reading()) return "data quality: nothing judged yet (the checks run at each canvas refresh)\n";
  const auto now = std::chrono::system_clock::now();
  std::string text = format("data quality at run %d, event %.0f, ", reading()->run, reading()->data_events) +
                     local_time(now, "%Y-%m-%d %H:%M:%S") + ": " + verdict_name(overall()) + "\n";
  if (event_rate) text += format("event rate: %.0f events/s\n", *event_rate);
  text += pad("check", 16) + pad("stave", 7) + pad("chip", 6) + pad("verdict", 9) + pad("since", 29) + "reason\n";
  for (const Row& row : rows_of(results_)) {
    const Result& result = row.shown.result;
    std::string reason = result.reason;
    if (row.more > 0) reason += format(" (and %d more %s)", row.more, verdict_name(result.verdict));
    text += pad(result.check, 16) + pad(index_text(result.stave), 7) +
            pad(result.verdict >= Verdict::Medium ? index_text(result.chip) : "-", 6) +
            pad(verdict_name(result.verdict), 9) + pad(describe(row.shown.since), 29) + reason + "\n";
  }
  return text;
}

namespace {

std::vector<double> copied(const double* values, int count) { return std::vector<double>(values, values + count); }

QualityView::Series series_view(const TrendSeries& series) {
  const TGraphAsymmErrors& graph = series.graph();
  const int n = graph.GetN();
  return {graph.GetName(),
          graph.GetTitle(),
          graph.GetLineColor(),
          graph.GetMarkerStyle(),
          copied(graph.GetX(), n),
          copied(graph.GetY(), n),
          copied(graph.GetEXlow(), n),
          copied(graph.GetEXhigh(), n),
          copied(graph.GetEYlow(), n),
          copied(graph.GetEYhigh(), n)};
}

QualityView::Distribution difference_view(const std::string& axis, const char* label, std::size_t stave,
                                          Bins current, const Bins& reference) {
  const std::string number = std::to_string(stave);
  std::string title = axis + " difference to stave 3, stave " + number + ";" + label + " index diff;events";
  title[0] = static_cast<char>(std::toupper(title[0]));
  return {axis + "_difference_" + number, title, -511.5, 511.5, kStaveColours[stave], std::move(current), reference};
}

// The distributions of the reference view, each as in this run (empty
// before the first reading) and in the reference run.
std::vector<QualityView::Distribution> distributions(const Reading* now, const ReferenceRun& reference) {
  std::vector<QualityView::Distribution> all;
  for (std::size_t s = 0; s < kStaves; ++s)
    all.push_back({"hits_per_event_" + std::to_string(s),
                   "Pixels per event, stave " + std::to_string(s) + ";N pixels / event;events", -0.5, 200.5,
                   kStaveColours[s], now ? now->staves[s].hits_per_event : Bins(), reference.hits_per_event[s]});
  for (std::size_t s = 0; s < kDifferenceStaves; ++s)
    all.push_back(difference_view("column", "col", s, now ? now->column_differences[s] : Bins(),
                                  reference.column_differences[s]));
  for (std::size_t s = 0; s < kDifferenceStaves; ++s)
    all.push_back(difference_view("row", "row", s, now ? now->row_differences[s] : Bins(), reference.row_differences[s]));
  return all;
}

}  // namespace

std::shared_ptr<const QualityView> Quality::view(std::optional<double> event_rate) const {
  auto view = std::make_shared<QualityView>();
  view->time = std::chrono::system_clock::now();
  view->event_rate = event_rate;
  if (const Reading* last = reading()) {
    view->judged = true;
    view->run = last->run;
    view->event = last->data_events;
    view->overall = overall();
    for (int s = 0; s < kStaves; ++s) view->staves[static_cast<std::size_t>(s)] = combined(results_, s);
    view->rows = rows_of(results_);
  }
  for (const TrendSeries* series : trends_.series()) view->trends.push_back(series_view(*series));
  if (const ReferenceRun* loaded = reference()) {
    view->reference_path = loaded->path;
    view->distributions = distributions(reading(), *loaded);
  }
  return view;
}

void Quality::add_saved_objects(TList& list) const {
  saved_.clear();
  saved_.push_back(std::make_unique<TNamed>("quality_overall", verdict_name(overall())));
  for (const TrackedResult& tracked : results_) {
    const std::string title = std::string(verdict_name(tracked.result.verdict)) + ": " + tracked.result.reason;
    saved_.push_back(std::make_unique<TNamed>(saved_name(tracked.result).c_str(), title.c_str()));
  }
  for (const auto& named : saved_) list.Add(named.get());
  for (const TrendSeries* series : trends_.series())
    list.Add(const_cast<TGraphAsymmErrors*>(&series->graph()));
}

}  // namespace kivo::quality
