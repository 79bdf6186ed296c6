#include "Aligner.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "TGraph.h"
#include "TH1D.h"
#include "TNamed.h"

namespace kivo::tracking {

namespace {

// A coarse peak that the search takes: entries above the background, their
// significance, and how much it must stand above any other peak (of the
// same lag and of the other lags).
constexpr double kSearchExcess = 25;
constexpr double kSearchSignificance = 8;
constexpr double kSearchDominance = 2;
// A fine peak that gives the offset.
constexpr double kFineExcess = 20;
constexpr double kFineSignificance = 6;
// The uncertainty (pixels) a fine peak must reach before it is taken, and the
// events after which a clear one is taken as it is; the events after which
// the search starts again.
constexpr double kFineError = 1;
constexpr double kFinePatience = 4096;
constexpr double kFineGiveUp = 8192;
// A peak of the recent correlation: in a sparse beam an epoch holds a dozen
// pairs of the same particles over next to no background, which the
// significance weighs.
constexpr double kRecentExcess = 12;
constexpr double kRecentSignificance = 6;
constexpr double kRecentFineExcess = 15;
constexpr double kRecentFineSignificance = 5;
// Beyond this distance (pixels, either axis) the coarse peak lies elsewhere.
constexpr double kCoarseApart = 2 * CoarseCorrelation::kBinPixels;
// The share of the last epoch's fine peak that confirms the offset in use
// without a search of the coarse distribution.
constexpr double kConfirmedShare = 0.5;
// The tracks for a stave in an epoch, and the share of them it must match,
// that show its offset in use still right.
constexpr double kEpochTracks = 20;
constexpr double kMatchingShare = 0.5;
// Uncertainties of the fine peak beyond which it lies elsewhere.
constexpr double kApartErrors = 5;
// Epochs in a row that make a stave displaced, and silent.
constexpr int kConfirmEpochs = 2;
constexpr int kSilentEpochs = 3;
// The share of a block's mean residual that moves the offset, and the most
// one block may move it (pixels): slow drifts are followed, jumps are not.
constexpr double kDriftGain = 0.4;
constexpr double kDriftStep = 1;
// Changes of the offset in use that enter the history, and that are logged.
constexpr double kHistoryStep = 0.5;
constexpr double kLogStep = 2;
constexpr double kTokenCap = 4096;
// Standard errors by which the tracks' mean slope must differ from zero
// before the offsets are straightened.
constexpr double kSlopeSignificance = 3;

std::string number(double value, int decimals = 1) {
  char text[32];
  std::snprintf(text, sizeof text, "%+.*f", decimals, value);
  return text;
}

std::string events_text(double events) {
  char text[32];
  std::snprintf(text, sizeof text, "%.0f", events);
  return text;
}

std::string offset_text(double columns, double rows) {
  return number(columns) + " columns, " + number(rows) + " rows";
}

// 1 + h: the variance of a stave's residual against the line through the
// other three, in units of one cluster's variance.
std::array<double, kStaves> leave_one_out_leverage(const std::array<double, kStaves>& z) {
  std::array<double, kStaves> leverage{};
  for (int s = 0; s < kStaves; ++s) {
    double mean = 0;
    for (int t = 0; t < kStaves; ++t)
      if (t != s) mean += z[t] / (kStaves - 1);
    double spread = 0;
    for (int t = 0; t < kStaves; ++t)
      if (t != s) spread += (z[t] - mean) * (z[t] - mean);
    leverage[s] = 1 + 1.0 / (kStaves - 1) + (spread > 0 ? (z[s] - mean) * (z[s] - mean) / spread : 0);
  }
  return leverage;
}

const char* state_name(AlignmentState state) {
  switch (state) {
    case AlignmentState::searching: return "searching";
    case AlignmentState::aligned: return "aligned";
    case AlignmentState::displaced: return "displaced";
    case AlignmentState::silent: return "silent";
  }
  return "";
}

}  // namespace

Aligner::Aligner(const Settings& settings, Tracker::Report report)
    : settings_(settings), report_(std::move(report)), leverage_(leave_one_out_leverage(settings.plane_positions)) {
  reset();
}

void Aligner::reset() {
  for (Search& search : searches_) {
    for (CoarseCorrelation& coarse : search.coarse) coarse.clear();
    search.fine.clear();
    search.phase = Phase::coarse;
    search.lag = 0;
    search.fine_since = 0;
    search.elsewhere_epochs = search.silent_epochs = 0;
    search.confirmed_excess = 0;
    search.fine_on_candidate = false;
  }
  residuals_ = {};
  matches_ = {};
  marks_ = {};
  alignment_ = {};
  alignment_.staves[kReferenceStave].state = AlignmentState::aligned;
  alignment_.staves[kReferenceStave].found_at_event = 0;
  resolution_ = 0.5;
  tokens_ = 0;
  last_search_ = last_fine_ = epoch_start_ = 0;
}

void Aligner::log(const std::string& line) const {
  if (report_) report_("tracking: " + line);
}

// Pairs stave `stave`'s clusters of event i with stave 3's of event i + lag.
void Aligner::correlate(int stave, const EventClusters& event, int lag, bool coarse, bool fine) {
  const std::vector<Cluster>* mine = lag > 0 ? event.before[stave] : event.now[stave];
  const std::vector<Cluster>* reference = lag < 0 ? event.before[kReferenceStave] : event.now[kReferenceStave];
  if (!mine || !reference || mine->size() > kMaxClusters || reference->size() > kMaxClusters) return;
  Search& search = searches_[stave];
  if (coarse) search.coarse[lag + kMaxLag].add(*mine, *reference);
  if (fine) search.fine.add(*mine, *reference);
}

void Aligner::observe(const EventClusters& event, double events) {
  // The recent correlation of the staves already aligned takes a sample of
  // the events: those its pairs fit into the budget.
  double follow_pairs = 0;
  for (int s = 0; s < kStaves - 1; ++s) {
    if (searches_[s].phase != Phase::follow) continue;
    const int lag = searches_[s].lag;
    const std::vector<Cluster>* mine = lag > 0 ? event.before[s] : event.now[s];
    const std::vector<Cluster>* reference = lag < 0 ? event.before[kReferenceStave] : event.now[kReferenceStave];
    if (mine && reference) follow_pairs += static_cast<double>(mine->size() * reference->size());
  }
  tokens_ = std::min(kTokenCap, tokens_ + kPairsPerEvent);
  const bool sample = follow_pairs <= tokens_;
  if (sample) tokens_ -= follow_pairs;
  bool searching = false, measuring = false;
  for (int s = 0; s < kStaves - 1; ++s) {
    Search& search = searches_[s];
    switch (search.phase) {
      case Phase::coarse:
        searching = true;
        for (int lag = -kMaxLag; lag <= kMaxLag; ++lag) correlate(s, event, lag, true, false);
        break;
      case Phase::fine:
        measuring = true;
        correlate(s, event, search.lag, false, true);
        break;
      case Phase::follow:
        if (sample) correlate(s, event, search.lag, true, true);
        break;
    }
  }
  if (searching && events - last_search_ >= kSearchEvery) {
    last_search_ = events;
    for (int s = 0; s < kStaves - 1; ++s)
      if (searches_[s].phase == Phase::coarse) search_coarse(s);
  }
  if (measuring && events - last_fine_ >= kFineEvery) {
    last_fine_ = events;
    for (int s = 0; s < kStaves - 1; ++s)
      if (searches_[s].phase == Phase::fine) measure_fine(s, events);
  }
  if (events - epoch_start_ >= kEpochEvents) {
    judge_epoch(events);
    epoch_start_ = events;
  }
}

void Aligner::search_coarse(int stave) {
  Search& search = searches_[stave];
  std::array<Peak, 2 * kMaxLag + 1> peaks;
  std::array<double, 2 * kMaxLag + 1> seconds{};
  int best = 0;
  for (int i = 0; i <= 2 * kMaxLag; ++i) {
    peaks[i] = search.coarse[i].highest(seconds[i]);
    if (peaks[i].excess > peaks[best].excess) best = i;
  }
  const Peak& peak = peaks[best];
  if (peak.excess < kSearchExcess || peak.significance < kSearchSignificance ||
      peak.excess < kSearchDominance * seconds[best])
    return;
  for (int i = 0; i <= 2 * kMaxLag; ++i)
    if (i != best && peak.excess < kSearchDominance * peaks[i].excess) return;
  search.phase = Phase::fine;
  search.lag = best - kMaxLag;
  search.fine.clear();
  search.fine.centre(peak.columns, peak.rows);
  search.fine_since = last_search_;
  for (CoarseCorrelation& coarse : search.coarse) coarse.clear();
}

void Aligner::measure_fine(int stave, double events) {
  Search& search = searches_[stave];
  const Peak peak = search.fine.peak();
  const bool clear = peak.excess >= kFineExcess && peak.significance >= kFineSignificance;
  // Measured to a pixel, or as well as the events allow in a while.
  const bool precise = std::max(peak.columns_error, peak.rows_error) <= kFineError;
  if (clear && (precise || events - search.fine_since > kFinePatience)) {
    found(stave, peak, events);
    return;
  }
  if (events - search.fine_since > kFineGiveUp) {
    search.phase = Phase::coarse;
    search.fine.clear();
  }
}

void Aligner::found(int stave, const Peak& peak, double events) {
  Search& search = searches_[stave];
  StaveAlignment& a = alignment_.staves[stave];
  a.state = AlignmentState::aligned;
  a.columns = peak.columns;
  a.rows = peak.rows;
  a.columns_error = peak.columns_error;
  a.rows_error = peak.rows_error;
  a.found_lag = search.lag;
  a.found_at_event = events;
  marks_[stave] = {a.columns, a.rows, a.columns, a.rows};
  residuals_[stave] = {};
  alignment_.history.push_back({events, stave, a.columns, a.rows, true});
  search.phase = Phase::follow;
  search.fine.clear();
  search.fine.centre(a.columns, a.rows);
  for (CoarseCorrelation& coarse : search.coarse) coarse.clear();
  search.elsewhere_epochs = search.silent_epochs = 0;
  search.confirmed_excess = 0;
  search.fine_on_candidate = false;
  log("stave " + std::to_string(stave) + " aligned to stave 3: " + offset_text(a.columns, a.rows) +
      (search.lag == 0 ? std::string() : " (its events " + std::string(search.lag < 0 ? "one late" : "one early") + ")") +
      ", at event " + events_text(events));
}

void Aligner::judge_epoch(double events) {
  enum class Seen { nothing, at_offset, elsewhere };
  std::array<Seen, kStaves - 1> seen{};
  std::array<Peak, kStaves - 1> where{};
  bool any = false;
  for (int s = 0; s < kStaves - 1; ++s) {
    Search& search = searches_[s];
    if (search.phase != Phase::follow) continue;
    const StaveAlignment& a = alignment_.staves[s];
    const Peak fine = search.fine.peak();
    const bool fine_ok = fine.excess >= kRecentFineExcess && fine.significance >= kRecentFineSignificance;
    if (search.fine_on_candidate && fine_ok) {
      // Centred on where the coarse peak lay last epoch: measured precisely.
      seen[s] = Seen::elsewhere, where[s] = fine;
      any = true;
      continue;
    }
    // A wide peak (divergent tracks) measured from few entries wanders: it
    // lies elsewhere only when further than its uncertainty allows.
    const double allowed = std::max(settings_.matching_radius,
                                    kApartErrors * std::hypot(fine.columns_error, fine.rows_error));
    const bool fine_at_offset = !search.fine_on_candidate && fine_ok &&
                                std::hypot(fine.columns - a.columns, fine.rows - a.rows) <= allowed;
    // The whole coarse distribution is searched only when the offset in use
    // is not confirmed as firmly as in the epoch before: a peak elsewhere
    // may then outweigh it.
    const bool confirmed = fine_at_offset && a.state == AlignmentState::aligned &&
                           fine.excess >= kConfirmedShare * search.confirmed_excess;
    search.confirmed_excess = fine_at_offset ? fine.excess : 0;
    double second = 0;
    const Peak coarse = confirmed ? Peak{} : search.coarse[search.lag + kMaxLag].highest(second);
    const bool coarse_ok = coarse.excess >= kRecentExcess && coarse.significance >= kRecentSignificance;
    const bool coarse_apart =
        std::abs(coarse.columns - a.columns) > kCoarseApart || std::abs(coarse.rows - a.rows) > kCoarseApart;
    const bool fine_counts = fine_ok && !search.fine_on_candidate;
    if (coarse_ok && coarse_apart && coarse.excess > (fine_counts ? fine.excess : 0)) {
      seen[s] = Seen::elsewhere, where[s] = coarse;
    } else if (fine_counts) {
      seen[s] = fine_at_offset ? Seen::at_offset : Seen::elsewhere, where[s] = fine;
    } else if (coarse_ok) {
      seen[s] = Seen::at_offset;
    }
    // Tracks that still find the stave where the offset in use puts it
    // outweigh a correlation too broad to measure (divergent tracks far
    // from stave 3): the stave is neither silent nor elsewhere.
    const Matches& m = matches_[s];
    if (m.tracks >= kEpochTracks && m.matched >= kMatchingShare * m.tracks && !search.fine_on_candidate)
      seen[s] = Seen::at_offset;
    any = any || seen[s] != Seen::nothing;
  }
  matches_ = {};
  for (int s = 0; s < kStaves - 1; ++s) {
    Search& search = searches_[s];
    if (search.phase != Phase::follow) continue;
    StaveAlignment& a = alignment_.staves[s];
    const std::string name = "stave " + std::to_string(s);
    if (seen[s] == Seen::elsewhere) {
      search.silent_epochs = 0;
      if (++search.elsewhere_epochs >= kConfirmEpochs) {
        const bool fresh = a.state != AlignmentState::displaced;
        a.peak_columns = where[s].columns;
        a.peak_rows = where[s].rows;
        if (fresh) {
          a.state = AlignmentState::displaced;
          a.displaced_since_event = events - kConfirmEpochs * kEpochEvents;
          log(name + ": the correlation with stave 3 now peaks at " + offset_text(a.peak_columns, a.peak_rows) +
              ", " + offset_text(a.peak_columns - a.columns, a.peak_rows - a.rows) +
              " from the offset in use, which is kept (since about event " + events_text(a.displaced_since_event) +
              ")");
        }
      }
    } else if (seen[s] == Seen::at_offset) {
      search.elsewhere_epochs = search.silent_epochs = 0;
      if (a.state != AlignmentState::aligned)
        log(name + ": the correlation with stave 3 agrees with the offset in use again, at event " +
            events_text(events));
      a.state = AlignmentState::aligned;
      a.displaced_since_event = -1;
    } else if (any) {
      search.elsewhere_epochs = 0;
      if (++search.silent_epochs >= kSilentEpochs && a.state == AlignmentState::aligned) {
        a.state = AlignmentState::silent;
        log(name + ": no correlation with stave 3 in the last " + events_text(kSilentEpochs * kEpochEvents) +
            " events while the other staves have one (dead, out of step or lost), at event " + events_text(events));
      }
    }
    search.coarse[search.lag + kMaxLag].clear();
    search.fine.clear();
    // A peak elsewhere is measured finely in the next epoch.
    search.fine_on_candidate = seen[s] == Seen::elsewhere;
    if (search.fine_on_candidate)
      search.fine.centre(where[s].columns, where[s].rows);
    else
      search.fine.centre(a.columns, a.rows);
  }
}

void Aligner::count_track(int stave, bool matched) {
  matches_[stave].tracks += 1;
  if (matched) matches_[stave].matched += 1;
}

void Aligner::add_residual(int stave, double columns, double rows, double events) {
  Residuals& r = residuals_[stave];
  r.n += 1;
  r.columns += columns;
  r.rows += rows;
  r.columns2 += columns * columns;
  r.rows2 += rows * rows;
  if (r.n >= (r.blocks < kFirstBlocks ? kFirstBlock : kResidualBlock)) complete_block(stave, events);
}

void Aligner::complete_block(int stave, double events) {
  Residuals& r = residuals_[stave];
  const double mean_columns = r.columns / r.n, mean_rows = r.rows / r.n;
  const double var_columns = std::max(0.0, r.columns2 / r.n - mean_columns * mean_columns);
  const double var_rows = std::max(0.0, r.rows2 / r.n - mean_rows * mean_rows);
  r.width = std::sqrt((var_columns + var_rows) / 2);
  r.n = r.columns = r.rows = r.columns2 = r.rows2 = 0;
  r.blocks += 1;
  update_resolution();
  if (alignment_.staves[stave].state != AlignmentState::aligned) return;
  // The stave's move, less what moves all staves alike or in proportion to
  // their positions (no residual can tell those), taken relative to stave 3.
  const std::array<double, kStaves> move = observable_part(stave);
  const double step_columns = std::clamp(kDriftGain * mean_columns, -kDriftStep, kDriftStep);
  const double step_rows = std::clamp(kDriftGain * mean_rows, -kDriftStep, kDriftStep);
  for (int s = 0; s < kStaves - 1; ++s)
    if (alignment_.staves[s].state == AlignmentState::aligned) {
      const double share = move[s] - move[kReferenceStave];
      shift(s, share * step_columns, share * step_rows, events);
    }
}

// The unit move of stave `stave` with its parts along a constant and along
// the plane positions taken out (a least-squares fit over the four planes).
std::array<double, kStaves> Aligner::observable_part(int stave) const {
  const auto& z = settings_.plane_positions;
  double mean = 0;
  for (double position : z) mean += position / kStaves;
  double spread = 0;
  for (double position : z) spread += (position - mean) * (position - mean);
  std::array<double, kStaves> move{};
  for (int s = 0; s < kStaves; ++s)
    move[s] = (s == stave ? 1.0 : 0.0) - 1.0 / kStaves - (z[stave] - mean) * (z[s] - mean) / spread;
  return move;
}

void Aligner::follow_mean_slope(double columns, double rows, double error_columns, double error_rows,
                                double events) {
  // Offsets that lean with the plane positions make every track lean so:
  // they are straightened until the tracks' mean slope is zero, as the
  // correlation found them.
  const auto& z = settings_.plane_positions;
  const bool lean_columns = std::abs(columns) > kSlopeSignificance * error_columns;
  const bool lean_rows = std::abs(rows) > kSlopeSignificance * error_rows;
  if (!lean_columns && !lean_rows) return;
  // One lean for all staves, the farthest moving at most one step, so that
  // the move stays a pure lean that no residual sees.
  double farthest = 0;
  for (int s = 0; s < kStaves - 1; ++s) farthest = std::max(farthest, std::abs(z[s] - z[kReferenceStave]));
  const double most = kDriftStep / farthest;
  const double lean_c = lean_columns ? std::clamp(kDriftGain * columns, -most, most) : 0;
  const double lean_r = lean_rows ? std::clamp(kDriftGain * rows, -most, most) : 0;
  for (int s = 0; s < kStaves - 1; ++s) {
    if (alignment_.staves[s].state == AlignmentState::searching) continue;
    const double lever = z[s] - z[kReferenceStave];
    shift(s, lean_c * lever, lean_r * lever, events);
  }
}

void Aligner::shift(int stave, double columns, double rows, double events) {
  StaveAlignment& a = alignment_.staves[stave];
  a.columns += columns;
  a.rows += rows;
  Marks& m = marks_[stave];
  if (std::abs(a.columns - m.history_columns) >= kHistoryStep || std::abs(a.rows - m.history_rows) >= kHistoryStep) {
    alignment_.history.push_back({events, stave, a.columns, a.rows, false});
    m.history_columns = a.columns;
    m.history_rows = a.rows;
  }
  if (std::abs(a.columns - m.logged_columns) >= kLogStep || std::abs(a.rows - m.logged_rows) >= kLogStep) {
    log("stave " + std::to_string(stave) + " offset followed to " + offset_text(a.columns, a.rows) + " (was " +
        offset_text(m.logged_columns, m.logged_rows) + "), at event " + events_text(events));
    m.logged_columns = a.columns;
    m.logged_rows = a.rows;
  }
}

// One cluster's resolution from the widths of the residuals, each divided by
// how much more than one cluster's variance its prediction carries.
void Aligner::update_resolution() {
  double sum = 0, n = 0;
  for (int s = 0; s < kStaves; ++s) {
    if (residuals_[s].width <= 0) continue;
    sum += residuals_[s].width / std::sqrt(leverage_[s]);
    n += 1;
  }
  if (n > 0) resolution_ = std::max(0.2, sum / n);
}

bool Aligner::settled() const {
  for (int s = 0; s < kStaves; ++s)
    if (!aligned(s) || residuals_[s].blocks < kFirstBlocks) return false;
  return true;
}

std::string Aligner::describe() const {
  std::string text;
  for (int s = 0; s < kStaves; ++s) {
    const StaveAlignment& a = alignment_.staves[s];
    if (!text.empty()) text += "; ";
    text += "stave " + std::to_string(s) + ": ";
    if (s == kReferenceStave) {
      text += "reference";
      continue;
    }
    if (a.state == AlignmentState::searching) {
      text += "searching";
      continue;
    }
    text += offset_text(a.columns, a.rows) + " " + state_name(a.state);
    if (a.state == AlignmentState::displaced)
      text += " (correlation at " + offset_text(a.peak_columns, a.peak_rows) + " since event " +
              events_text(a.displaced_since_event) + ")";
    if (a.found_lag != 0) text += " (found at lag " + number(a.found_lag, 0) + ")";
  }
  return text;
}

void Aligner::write(const Objects& objects) const {
  for (int s = 0; s < kStaves; ++s) {
    const StaveAlignment& a = alignment_.staves[s];
    objects.offset_col->SetBinContent(s + 1, a.columns);
    objects.offset_col->SetBinError(s + 1, a.columns_error);
    objects.offset_row->SetBinContent(s + 1, a.rows);
    objects.offset_row->SetBinError(s + 1, a.rows_error);
    objects.alignment_state->SetBinContent(s + 1, static_cast<double>(a.state));
    objects.offset_history_col[s]->Set(0);
    objects.offset_history_row[s]->Set(0);
  }
  for (const AlignmentChange& change : alignment_.history) {
    TGraph* columns = objects.offset_history_col[change.stave];
    TGraph* rows = objects.offset_history_row[change.stave];
    columns->SetPoint(columns->GetN(), change.event, change.columns);
    rows->SetPoint(rows->GetN(), change.event, change.rows);
  }
  objects.offset_col->SetEntries(kStaves);
  objects.offset_row->SetEntries(kStaves);
  objects.alignment_state->SetEntries(kStaves);
  objects.alignment_text->SetTitle(describe().c_str());
}

}  // namespace kivo::tracking
