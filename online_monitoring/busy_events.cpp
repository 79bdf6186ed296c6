// Busy events: each stave's distribution of hits per event (events with
// hits, busy ones left out), binned finely enough for a quantile, the threshold above which an
// event is busy, taken from it every kRecompute events, and the busy events'
// hits per column and row.
#include "busy_events.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// Hits per event binned one by one up to kLinear, then in steps of a
// sixteenth of an octave.
constexpr int kLinear = 64;
constexpr int kStepsPerOctave = 16;
constexpr int kBins = kLinear + 16 * kStepsPerOctave;
// The distribution gives a threshold once it holds this many events. An
// event is busy on a stave only when it also has more than the multiple of
// the middle of the other staves' hits in the same event: a change of beam
// intensity raises every stave at once, a noise burst one. Busy events stay
// out of the distribution, so that frequent bursts do not raise it.
constexpr double kLeastEvents = 200;
constexpr long kRecompute = 256;
constexpr int kColumns = 9216;
constexpr int kRows = 512;
constexpr int kChipColumns = 1024;

struct Rule {
  double quantile = 0.99, multiple = 5, least = 100;
};

struct StaveBusy {
  std::vector<double> distribution = std::vector<double>(kBins, 0.0);
  double counted = 0;     // events in the distribution
  long since_threshold = 0;
  double threshold = 0;   // 0 until the distribution has kLeastEvents
  double events = 0, hits = 0, most = 0;
  std::vector<double> columns = std::vector<double>(kColumns, 0.0);
  std::vector<double> rows = std::vector<double>(kRows, 0.0);
};

Rule rule;
StaveBusy staves[NSTAVE];

int bin_of(int hits) {
  if (hits < kLinear) return hits;
  const int bin = kLinear + static_cast<int>(kStepsPerOctave * std::log2(static_cast<double>(hits) / kLinear));
  return std::min(bin, kBins - 1);
}

// The hits that end bin `bin` (the most an event of the bin can have).
double upper_edge(int bin) {
  if (bin < kLinear) return bin;
  return std::ceil(kLinear * std::exp2(static_cast<double>(bin - kLinear + 1) / kStepsPerOctave)) - 1;
}

double quantile_of(const StaveBusy& stave) {
  double below = 0;
  const double wanted = rule.quantile * stave.counted;
  for (int bin = 0; bin < kBins; bin++) {
    below += stave.distribution[static_cast<std::size_t>(bin)];
    if (below >= wanted) return upper_edge(bin);
  }
  return upper_edge(kBins - 1);
}

void take_in(StaveBusy& stave, int hits) {
  stave.distribution[static_cast<std::size_t>(bin_of(hits))] += 1;
  stave.counted += 1;
  if (stave.counted < kLeastEvents) return;
  if (stave.threshold > 0 && ++stave.since_threshold < kRecompute) return;
  stave.since_threshold = 0;
  stave.threshold = std::max(rule.least, rule.multiple * quantile_of(stave));
}

}  // namespace

// The middle of the other staves' hits in the same event (the lower of the
// two middle ones of three).
int others_middle(const int (&npixels)[NSTAVE], int stave) {
  int others[NSTAVE - 1];
  int n = 0;
  for (int o = 0; o < NSTAVE; o++)
    if (o != stave) others[n++] = npixels[o];
  std::sort(others, others + n);
  return others[(n - 1) / 2];
}

void classify_event(const int (&npixels)[NSTAVE], bool (&busy)[NSTAVE]) {
  for (int s = 0; s < NSTAVE; s++) {
    const StaveBusy& stave = staves[s];
    const double hits = npixels[s];
    busy[s] = hits > rule.least && hits > rule.multiple * others_middle(npixels, s) &&
              (stave.threshold <= 0 || hits > stave.threshold);
  }
  for (int s = 0; s < NSTAVE; s++) {
    if (!busy[s]) {
      if (npixels[s] > 0) take_in(staves[s], npixels[s]);
      continue;
    }
    staves[s].events += 1;
    staves[s].hits += npixels[s];
    staves[s].most = std::max(staves[s].most, static_cast<double>(npixels[s]));
  }
}

void count_busy_hits(int stave, int chip, const int* irow, const int* icol, int n) {
  StaveBusy& sums = staves[stave];
  for (int i = 0; i < n; i++) {
    if (icol[i] >= kChipColumns || irow[i] >= kRows) continue;
    sums.columns[static_cast<std::size_t>(chip * kChipColumns + icol[i])] += 1;
    sums.rows[static_cast<std::size_t>(kRows - 1 - irow[i])] += 1;
  }
}

void clear_busy_events() {
  for (StaveBusy& stave : staves) stave = StaveBusy{};
}

int kivo_set_busy_rule(double quantile, double multiple, double least) {
  if (!(quantile > 0 && quantile <= 1) || !(multiple >= 1) || !(least >= 0) || !std::isfinite(multiple) ||
      !std::isfinite(least))
    return -1;
  rule = {quantile, multiple, least};
  for (StaveBusy& stave : staves)
    if (stave.threshold > 0) stave.threshold = std::max(rule.least, rule.multiple * quantile_of(stave));
  return 0;
}

int kivo_busy_events(int stave, double* figures, double* columns, double* rows) {
  if (stave < 0 || stave >= NSTAVE || !figures) return -1;
  const StaveBusy& busy = staves[stave];
  figures[0] = busy.events;
  figures[1] = busy.hits;
  figures[2] = busy.threshold;
  figures[3] = busy.most;
  if (columns) std::copy(busy.columns.begin(), busy.columns.end(), columns);
  if (rows) std::copy(busy.rows.begin(), busy.rows.end(), rows);
  return 0;
}
