#include "Quality.h"

#include <algorithm>
#include <cctype>
#include <ctime>

#include "TGraphAsymmErrors.h"
#include "TH1D.h"
#include "TList.h"
#include "TNamed.h"
#include "ReadoutUnits.h"

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
  return std::max({config.occupancy.window_events, config.hot_pixels.window_events, config.busy_events.window_events,
                   config.hit_rate.window_events,
                   config.beam_position.window_events, config.alignment.window_events,
                   config.synchronisation.window_events, config.missing_packet.window_events,
                   config.efficiency.window_events, config.residuals.window_events,
                   config.track_synchronisation.window_events});
}

Quality::Quality(Setup setup, std::optional<MonitorInputs> inputs, Report report)
    : setup_(std::move(setup)),
      inputs_(inputs),
      report_(std::move(report)),
      history_(longest_window(setup_.config)),
      alarmed_(kStaves + 1 + readout_units().size(), false) {
  const BusyEventConfig& busy = setup_.config.busy_events;
  if (inputs_) inputs_->set_busy_rule(busy.quantile, busy.multiple, busy.least_hits);
  if (!setup_.on_bad.empty() || !setup_.on_good.empty())
    alarms_ = std::make_unique<Alarms>(setup_.on_bad, setup_.on_good, setup_.config.alarm, report_);
}

Quality::~Quality() = default;

void Quality::set_reference(ReferenceRun reference) { setup_.reference = std::move(reference); }

void Quality::keep_up() {
  if (!inputs_) return;
  const Reading* newest = history_.newest();
  const double data_events = *inputs_->data_events;
  if (newest && *inputs_->run == newest->run && data_events >= newest->data_events &&
      data_events - newest->data_events < setup_.config.occupancy.min_events)
    return;
  add_reading();
}

bool Quality::add_reading() {
  Reading reading = read_monitor(*inputs_, setup_.config.hot_pixels);
  if (tracking_) reading.tracks = read_tracks(*tracking_);
  const bool new_run = !history_.newest() || reading.run != history_.newest()->run;
  history_.add(std::move(reading));
  if (!history_.restarted()) return false;
  memory_ = RunMemory{};
  last_trend_.reset();
  if (new_run) trends_.clear();
  return true;
}

void Quality::evaluate(std::optional<double> event_rate) {
  if (!inputs_) return;
  const bool restarted = add_reading();
  const double judged = restarted || history_.newest()->run != judged_run_ ? -1 : judged_events_;
  std::vector<Reading*> unjudged = history_.readings_after(judged);
  if (unjudged.empty()) unjudged.push_back(&history_.newest_to_complete());
  for (Reading* now : unjudged) judge(*now, event_rate, restarted || now->data_events != judged_events_);
}

void Quality::judge(Reading& now, std::optional<double> event_rate, bool fresh) {
  mark_firing(now, history_, setup_.config.hot_pixels);
  judged_events_ = now.data_events;
  judged_run_ = now.run;
  const Context context{setup_.config, now, history_, reference(), memory_};
  track(judge_all(context), Since{now.run, static_cast<long>(now.data_events), std::chrono::system_clock::now()},
        fresh);
  update_correlation_masks(*inputs_, now, memory_.masks);
  extend_trends(now, event_rate);
}

namespace {

// Raising a verdict to Medium or Bad, and clearing one of them, waits for
// confirmation; the rest (Null to Good and back) shows at once.
bool needs_confirmation(Verdict shown, Verdict now) { return now >= Verdict::Medium || shown >= Verdict::Medium; }

// Alarms are raised per group: each stave, the whole detector, and each
// readout unit, for the results its loss explains.
constexpr std::size_t kDetectorGroup = kStaves;
constexpr std::size_t kFirstUnitGroup = kStaves + 1;

std::size_t group_of(const Result& result) {
  if (result.unit != kNone && unit_index(result.unit) >= 0)
    return kFirstUnitGroup + static_cast<std::size_t>(unit_index(result.unit));
  return result.stave == kNone ? kDetectorGroup : static_cast<std::size_t>(result.stave);
}

const ReadoutUnit* unit_of_group(std::size_t group) {
  return group >= kFirstUnitGroup ? &readout_units()[group - kFirstUnitGroup] : nullptr;
}

std::string group_name(std::size_t group) {
  if (const ReadoutUnit* unit = unit_of_group(group))
    return format("readout unit %d (", unit->number) + staves_text(unit->staves) + ")";
  return group == kDetectorGroup ? "the detector" : "stave " + std::to_string(group);
}

// The alarm of `group`, with what names it.
Alarm group_alarm(std::size_t group) {
  Alarm alarm;
  if (const ReadoutUnit* unit = unit_of_group(group)) {
    alarm.unit = unit->number;
    alarm.staves = unit->staves;
  } else if (group != kDetectorGroup) {
    alarm.stave = static_cast<int>(group);
  }
  return alarm;
}

// One line for every result of one stave (or of the whole detector) that
// turned to `verdict`: per check, its result, or how many of its chips and
// the most severe of them.
std::string digest(const std::vector<const TrackedResult*>& changed, const std::vector<TrackedResult>& all,
                   std::string& checks, int& chip) {
  std::string text;
  checks.clear();
  chip = changed.size() == 1 ? changed.front()->result.chip : kNone;
  std::vector<std::string> seen;
  for (const TrackedResult* tracked : changed) {
    const std::string& check = tracked->result.check;
    if (std::find(seen.begin(), seen.end(), check) != seen.end()) continue;
    seen.push_back(check);
    checks += (checks.empty() ? "" : ",") + check;
    std::vector<const Result*> same;
    for (const TrackedResult* other : changed)
      if (other->result.check == check) same.push_back(&other->result);
    const Result* worst_one = *std::max_element(same.begin(), same.end(), [](const Result* a, const Result* b) {
      return a->severity < b->severity;
    });
    text += text.empty() ? "" : " | ";
    if (same.size() > 1) {
      const std::size_t group = group_of(tracked->result);
      const ReadoutUnit* unit = unit_of_group(group);
      const long of = std::count_if(all.begin(), all.end(), [&](const TrackedResult& t) {
        const bool served = unit && std::find(unit->staves.begin(), unit->staves.end(), t.result.stave) !=
                                        unit->staves.end();
        return t.result.check == check && (served || group_of(t.result) == group);
      });
      const bool staves = std::any_of(same.begin(), same.end(), [&](const Result* r) { return r->stave != same[0]->stave; });
      const bool chips = same[0]->chip != kNone;
      std::string places;
      for (const Result* result : same) {
        if (!places.empty()) places += ", ";
        if (staves && chips) places += std::to_string(result->stave) + ":";
        places += std::to_string(chips ? result->chip : result->stave);
      }
      const char* what = chips ? "chips" : "staves";
      text += format("%s: %zu of %ld %s %s (%s %s): ", check.c_str(), same.size(), of, what,
                     verdict_name(worst_one->verdict), what, places.c_str());
    } else {
      text += check + ": ";
    }
    text += worst_one->reason;
  }
  return text;
}

}  // namespace

void Quality::track(std::vector<Result> results, const Since& since, bool fresh) {
  const int confirm = static_cast<int>(setup_.config.verdicts.confirm_judgements);
  std::vector<TrackedResult> tracked;
  tracked.reserve(results.size());
  std::vector<std::size_t> turned_bad;
  for (std::size_t i = 0; i < results.size(); ++i) {
    Result& result = results[i];
    // The checks give their results in the same order at every refresh, so
    // the last result at the same place is most likely the one to follow.
    const auto same = [&result](const TrackedResult& t) { return same_key(t.result, result); };
    const auto before = i < results_.size() && same(results_[i])
                            ? results_.begin() + static_cast<long>(i)
                            : std::find_if(results_.begin(), results_.end(), same);
    const bool known = before != results_.end();
    const Verdict shown = known ? before->result.verdict : Verdict::Null;
    if (result.verdict == shown) {
      tracked.push_back({std::move(result), known ? before->since : since});
      continue;
    }
    if (needs_confirmation(shown, result.verdict)) {
      // The judgements in a row that moved the same way from the verdict
      // shown; what they all reached (the least of a rise, the most of a
      // fall) is confirmed once there are enough of them.
      const bool rising = result.verdict > shown;
      const bool again = known && before->pending_judgements > 0 && (before->pending > shown) == rising;
      const int count = again ? before->pending_judgements + (fresh ? 1 : 0) : 1;
      const Verdict reached = !again ? result.verdict
                              : rising ? std::min(before->pending, result.verdict)
                                       : std::max(before->pending, result.verdict);
      if (count < confirm) {
        if (known)
          tracked.push_back({before->result, before->since, reached, count});
        else
          tracked.push_back({Result{result.check, result.stave, result.chip, Verdict::Null,
                                    "to be confirmed: " + result.reason, 0},
                             since, reached, count});
        continue;
      }
      result.verdict = reached;
      if (reached == shown) {
        tracked.push_back({std::move(result), known ? before->since : since});
        continue;
      }
    }
    tracked.push_back({std::move(result), since});
    log_change(tracked.back(), shown);
    if (tracked.back().result.verdict == Verdict::Bad) turned_bad.push_back(tracked.size() - 1);
  }
  results_ = std::move(tracked);
  std::vector<const TrackedResult*> bad;
  for (std::size_t index : turned_bad) bad.push_back(&results_[index]);
  raise_alarms(bad, since);
}

void Quality::log_change(const TrackedResult& tracked, Verdict old) {
  if (!setup_.log) return;
  std::string error;
  const bool written = setup_.log->append({tracked.result, tracked.since, old}, error);
  if (!written && !log_failing_) report_("--quality-log " + error);
  log_failing_ = !written;
}

// One alarm per stave (and one for the checks of the whole detector) when
// its verdicts turn Bad, with all that turned Bad at this judgement in one
// digest; no more for that stave until none of its verdicts is Bad, when
// --on-good hears of the recovery.
void Quality::raise_alarms(const std::vector<const TrackedResult*>& turned_bad, const Since& since) {
  for (std::size_t group = 0; group < alarmed_.size(); ++group) {
    std::vector<const TrackedResult*> changed;
    for (const TrackedResult* tracked : turned_bad)
      if (group_of(tracked->result) == group) changed.push_back(tracked);
    if (!changed.empty() && !alarmed_[group]) {
      alarmed_[group] = true;
      Alarm alarm = group_alarm(group);
      alarm.reason = digest(changed, results_, alarm.check, alarm.chip);
      alarm.run = since.run;
      if (alarms_) alarms_->raise(alarm);
      continue;
    }
    const bool still_bad = std::any_of(results_.begin(), results_.end(), [group](const TrackedResult& t) {
      return group_of(t.result) == group && t.result.verdict == Verdict::Bad;
    });
    if (!alarmed_[group] || still_bad) continue;
    alarmed_[group] = false;
    Alarm recovery = group_alarm(group);
    recovery.verdict = Verdict::Good;
    recovery.reason = group_name(group) + ": no verdict is Bad any more";
    recovery.run = since.run;
    if (alarms_) alarms_->raise(recovery);
  }
}

int Quality::not_judging() const {
  int count = 0;
  for (const Row& row : rows_of(results_))
    if (row.shown.result.verdict == Verdict::Null && !(row.shown.result.check == "reference" && !reference())) ++count;
  return count;
}

std::string Quality::not_judged_reason() const {
  const Reading* last = reading();
  if (!last) return "nothing judged yet";
  const Config& c = setup_.config;
  const double least = std::min({c.occupancy.min_events, c.hot_pixels.min_events, c.busy_events.min_events,
                                 c.hit_rate.min_events, c.beam_position.min_events, c.missing_packet.min_events});
  if (last->data_events < least)
    return format("%.0f data events, the checks need %.0f", last->data_events, least);
  for (const Row& row : rows_of(results_))
    if (row.shown.result.check != "reference") return row.shown.result.check + ": " + row.shown.result.reason;
  return "no check is enabled";
}

std::string Quality::overall_text() const {
  if (overall() == Verdict::Null) return "Null: not judged (" + not_judged_reason() + ")";
  const int blind = not_judging();
  std::string text = verdict_name(overall());
  if (blind > 0) text += format(", %d check%s not judging", blind, blind == 1 ? "" : "s");
  return text;
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
                     local_time(now, "%Y-%m-%d %H:%M:%S") + ": " + overall_text() + "\n";
  if (event_rate) text += format("event rate: %.0f events/s\n", *event_rate);
  std::vector<std::array<std::string, 6>> lines = {{"check", "stave", "chip", "verdict", "since", "reason"}};
  for (const Row& row : rows_of(results_)) {
    const Result& result = row.shown.result;
    std::string reason = result.reason;
    if (row.more > 0) reason += format(" (and %d more %s)", row.more, verdict_name(result.verdict));
    lines.push_back({result.check, index_text(result.stave),
                     result.verdict >= Verdict::Medium ? index_text(result.chip) : "-", verdict_name(result.verdict),
                     describe(row.shown.since), reason});
  }
  std::array<std::size_t, 5> widths{};
  for (const auto& line : lines)
    for (std::size_t column = 0; column < widths.size(); ++column)
      widths[column] = std::max(widths[column], line[column].size());
  for (const auto& line : lines) {
    for (std::size_t column = 0; column < widths.size(); ++column) text += pad(line[column], widths[column] + 2);
    text += line[5] + "\n";
  }
  return text;
}

namespace {

std::unique_ptr<TH1D> profile_histogram(const std::string& name, const std::string& title, int stave,
                                        const std::vector<double>& hits, double events) {
  const bool directory = TH1::AddDirectoryStatus();
  TH1::AddDirectory(kFALSE);
  auto histogram = std::make_unique<TH1D>(name.c_str(), (title + std::to_string(stave)).c_str(),
                                          static_cast<int>(hits.size()), -0.5, static_cast<double>(hits.size()) - 0.5);
  TH1::AddDirectory(directory);
  for (std::size_t i = 0; i < hits.size(); ++i) histogram->SetBinContent(static_cast<int>(i) + 1, hits[i]);
  histogram->SetEntries(events);
  return histogram;
}

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

const char* alignment_name(tracking::AlignmentState state) {
  switch (state) {
    case tracking::AlignmentState::searching: return "searching";
    case tracking::AlignmentState::aligned: return "aligned";
    case tracking::AlignmentState::displaced: return "displaced";
    case tracking::AlignmentState::silent: return "silent";
  }
  return "";
}

// The tracks of the whole run and of the efficiency check's window.
QualityView::TracksView tracks_view(const Reading& now, const Reading& start) {
  QualityView::TracksView view;
  view.present = now.tracks.present;
  view.recent_events = now.events - start.events;
  for (std::size_t s = 0; s < kStaves; ++s) {
    const StaveTracks& tracks = now.tracks.staves[s];
    const StaveTracks& before = start.tracks.staves[s];
    QualityView::StaveTracksView& stave = view.staves[s];
    stave.total = tracks.total;
    stave.matched = tracks.matched;
    stave.recent_total = tracks.total;
    stave.recent_matched = tracks.matched;
    for (std::size_t cell = 0; cell < before.total.size() && cell < tracks.total.size(); ++cell) {
      stave.recent_total[cell] -= before.total[cell];
      stave.recent_matched[cell] -= before.matched[cell];
    }
    stave.residual_columns = tracks.residual_columns;
    stave.residual_rows = tracks.residual_rows;
    stave.cluster_sizes = tracks.cluster_sizes;
    stave.alignment = alignment_name(tracks.alignment.state);
    stave.offset_columns = tracks.alignment.columns;
    stave.offset_rows = tracks.alignment.rows;
  }
  return view;
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
    view->overall_text = overall_text();
    view->not_judging = not_judging();
    for (int s = 0; s < kStaves; ++s) view->staves[static_cast<std::size_t>(s)] = combined(results_, s);
    view->rows = rows_of(results_);
    if (last->tracks.present)
      view->tracks =
          tracks_view(*last, history_.window_start(*last, setup_.config.efficiency.window_events, Count::Events));
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
  const std::string overall_title = overall() == Verdict::Null ? overall_text() : verdict_name(overall());
  saved_.push_back(std::make_unique<TNamed>("quality_overall", overall_title.c_str()));
  for (const TrackedResult& tracked : results_) {
    const std::string title = std::string(verdict_name(tracked.result.verdict)) + ": " + tracked.result.reason;
    saved_.push_back(std::make_unique<TNamed>(saved_name(tracked.result).c_str(), title.c_str()));
  }
  for (const auto& named : saved_) list.Add(named.get());
  for (const TrendSeries* series : trends_.series())
    list.Add(const_cast<TGraphAsymmErrors*>(&series->graph()));
  saved_profiles_.clear();
  if (const Reading* last = reading()) {
    for (int s = 0; s < kStaves; ++s) {
      const HitProfiles profiles = profiles_without_hot_pixels(last->staves[static_cast<std::size_t>(s)]);
      saved_profiles_.push_back(profile_histogram(profile_name("double_column", s),
                                                  "Hits per double column without hot pixels, stave ", s,
                                                  profiles.double_columns, last->events));
      saved_profiles_.push_back(profile_histogram(profile_name("row", s), "Hits per row without hot pixels, stave ", s,
                                                  profiles.rows, last->events));
    }
  }
  for (const auto& histogram : saved_profiles_) list.Add(histogram.get());
}

}  // namespace kivo::quality
