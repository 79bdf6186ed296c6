#include "Tracker.h"

#include <algorithm>
#include <cmath>

#include "Aligner.h"
#include "Clusters.h"
#include "HotPixelFilter.h"
#include "TH1D.h"
#include "TList.h"
#include "TrackFinder.h"
#include "TrackingObjects.h"

namespace kivo::tracking {

namespace {

// Every event counts for the hot pixels until the first window is judged,
// then one in so many.
constexpr int kHotSampleEvery = 4;

// The cost model of the budget (nanoseconds of a reference machine, measured
// with kivo -b -q on simulated runs of 0.3 and 5 particles per event): the
// monitor's processing of an event, and the reconstruction's, each a fixed
// part and a part per hit.
constexpr double kMonitorEventCost = 1500, kMonitorHitCost = 17;
constexpr double kTrackingEventCost = 200, kTrackingHitCost = 115;
// A run of taken events starts when the budget holds this many events like
// the recent ones, and it may save up at most so many (counted at the
// recent events' cost: capped at a nearly empty event's cost, the budget of
// a clean sparse beam never reached the start of a run).
constexpr double kRunEvents = 16, kSavedEvents = 64;
// Until every offset is found and refined by its first residuals, in the
// first so many events since the reset, the budget grows so many times
// faster: the search needs events, and it ends.
constexpr double kSearchEvents = 20000;
constexpr double kSearchShare = 4;
// The weight of the newest event in the average cost that wants_event() expects.
constexpr double kCostAveraging = 0.05;

// The event's clusters and tracks of one stave, kept for the next event's
// matches at lags -1 and +1.
struct StaveEvent {
  bool taken = false;       // the stave entered the event (not left out)
  bool predicted = false;   // tracks for the stave were built
  std::vector<Cluster> clusters;
  std::vector<Prediction> predictions;
  std::vector<char> matched;  // per cluster: a track of the event matched it at lag 0
  std::vector<char> hit;      // per prediction: matched at lag 0
};

int chip_of(double column) { return std::clamp(static_cast<int>(column) / kChipColumns, 0, kChips - 1); }

// The nearest cluster of `clusters` (by column) within `radius` of `p`, or -1.
int nearest(const std::vector<Cluster>& clusters, const Prediction& p, double radius) {
  constexpr std::size_t kFew = 16;  // compared one by one, without a search
  if (clusters.size() <= kFew) {
    int best = -1;
    double best_distance = radius * radius;
    for (std::size_t i = 0; i < clusters.size(); ++i) {
      const double dc = clusters[i].column - p.column, dr = clusters[i].row - p.row;
      const double distance = dc * dc + dr * dr;
      const bool nearer = distance <= best_distance;
      best = nearer ? static_cast<int>(i) : best;
      best_distance = nearer ? distance : best_distance;
    }
    return best;
  }
  auto first = std::lower_bound(clusters.begin(), clusters.end(), p.column - radius,
                                [](const Cluster& c, double value) { return c.column < value; });
  int best = -1;
  double best_distance = radius * radius;
  for (auto it = first; it != clusters.end() && it->column <= p.column + radius; ++it) {
    const double dc = it->column - p.column, dr = it->row - p.row;
    const double distance = dc * dc + dr * dr;
    if (distance <= best_distance) {
      best_distance = distance;
      best = static_cast<int>(it - clusters.begin());
    }
  }
  return best;
}

}  // namespace

struct Tracker::State {
  State(const Settings& s, Report r) : settings(s), report(std::move(r)), aligner(s, report), finder(s) {}

  void take_stave(int s, const unsigned* pixels, int count);
  void forget_tracks(int dut);
  void judge_stave(int dut);
  void match_lags(int dut);
  void fill_moved(int dut);

  Settings settings;
  Report report;
  TrackingObjects objects;
  Aligner aligner;
  TrackFinder finder;
  std::array<HotPixelFilter, kStaves> hot;
  std::array<StaveEvent, kStaves> now, before;
  std::array<std::vector<unsigned>, kStaves> keys;
  std::array<AlignedStave, kStaves> aligned;  // this event's clusters in the frame of stave 3
  ClusterScratch scratch;
  double events = 0, taken = 0;
  double credit = 0;     // of the budget, in the cost model's units
  bool running = false;  // within a run of taken events

  // What wants_event() answered for the coming event.
  enum class Decision { none, take, leave } decision = Decision::none;
  double expected_cost = kTrackingEventCost;  // of the events lately, averaged

  bool decide(double cost);
  bool take_event(const KivoEventHits& hits);
  void track(const KivoEventHits& hits);
};

void Tracker::State::take_stave(int s, const unsigned* pixels, int count) {
  StaveEvent& e = now[s];
  e.taken = false;
  e.clusters.clear();
  Fills& f = objects.fills();
  if (count > kMaxHitsPerStave) {
    f.skipped.fill(s, 0);
    return;
  }
  HotPixelFilter& filter = hot[s];
  const bool sample = !filter.ready() || static_cast<long long>(events) % kHotSampleEvery == 0;
  if (sample) filter.count(pixels, count);
  filter.keep_cold(pixels, count, keys[s]);
  build_clusters(keys[s], e.clusters, scratch);
  if (e.clusters.size() > static_cast<std::size_t>(kMaxClustersPerStave)) {
    e.clusters.clear();
    f.skipped.fill(s, 0);
    return;
  }
  e.taken = true;
  for (const Cluster& c : e.clusters) f.cluster_size[s].fill(c.size);
  f.clusters_per_event[s].fill(static_cast<double>(e.clusters.size()));
}

void Tracker::State::forget_tracks(int dut) {
  StaveEvent& e = now[dut];
  e.predicted = false;
  e.predictions.clear();
  e.matched.assign(e.clusters.size(), 0);
  e.hit.clear();
}

// The tracks for stave `dut`, every stave taken and aligned, and their
// matches at lag 0.
void Tracker::State::judge_stave(int dut) {
  StaveEvent& e = now[dut];
  Fills& f = objects.fills();
  if (!finder.find(dut, aligned, aligner, e.predictions)) f.skipped.fill(dut, 1);
  e.predicted = true;
  f.tracks_per_event.fill(static_cast<double>(e.predictions.size()), dut);
  e.hit.assign(e.predictions.size(), 0);
  for (std::size_t i = 0; i < e.predictions.size(); ++i) {
    const Prediction& p = e.predictions[i];
    f.track_total[dut].fill(p.column, p.row);
    const int match = nearest(e.clusters, p, settings.matching_radius);
    aligner.count_track(dut, match >= 0);
    if (match < 0) continue;
    const Cluster& c = e.clusters[static_cast<std::size_t>(match)];
    e.hit[i] = 1;
    e.matched[static_cast<std::size_t>(match)] = 1;
    f.track_matched[dut].fill(p.column, p.row);
    f.residual_col[dut].fill(c.column - p.column);
    f.residual_row[dut].fill(c.row - p.row);
    f.track_lag[dut].fill(0);
    aligner.add_residual(dut, c.column - p.column, c.row - p.row, events);
  }
}

// The tracks of the event before against this event's clusters (lag -1),
// and this event's tracks against the clusters of the event before (+1).
void Tracker::State::match_lags(int dut) {
  const StaveEvent& e = now[dut];
  const StaveEvent& b = before[dut];
  if (!e.taken || !b.taken) return;
  Fills& f = objects.fills();
  const double radius = settings.matching_radius;
  if (b.predicted)
    for (const Prediction& p : b.predictions)
      if (nearest(e.clusters, p, radius) >= 0) f.track_lag[dut].fill(-1);
  if (e.predicted)
    for (const Prediction& p : e.predictions)
      if (nearest(b.clusters, p, radius) >= 0) f.track_lag[dut].fill(1);
}

// Pairs of an unmatched track and a cluster that no track matched.
void Tracker::State::fill_moved(int dut) {
  const StaveEvent& e = now[dut];
  Fills& f = objects.fills();
  const double radius = settings.matching_radius;
  int pairs = 0;
  for (std::size_t i = 0; i < e.predictions.size(); ++i) {
    if (e.hit[i]) continue;
    const Prediction& p = e.predictions[i];
    const int chip = chip_of(p.column);
    for (std::size_t j = 0; j < e.clusters.size(); ++j) {
      if (e.matched[j]) continue;
      if (++pairs > kMaxMovedPairs) return;
      const Cluster& c = e.clusters[j];
      const double dc = c.column - p.column, dr = c.row - p.row;
      if (std::abs(dr) <= radius) {
        f.moved_cells[dut].fill(p.column, c.column);
        if (std::abs(dc) <= 1023) f.moved_col[dut].fill(chip, dc);
      }
      if (std::abs(dc) <= radius) f.moved_row[dut].fill(chip, dr);
    }
  }
}

// Whether the budget lets the reconstruction take an event costing `cost`.
bool Tracker::State::decide(double cost) {
  if (!running && credit >= kRunEvents * cost) running = true;
  if (running && credit < cost) running = false;
  return running;
}

// The budget after an event of `pixels` hits, and whether it is taken.
bool Tracker::State::take_event(const KivoEventHits& hits) {
  double pixels = 0;
  for (int s = 0; s < kStaves; ++s) pixels += hits.count[s];
  const double cost = kTrackingEventCost + kTrackingHitCost * pixels;
  expected_cost += kCostAveraging * (cost - expected_cost);
  const bool searching = !aligner.settled();
  const double share = settings.cost_share * (searching && events <= kSearchEvents ? kSearchShare : 1);
  credit = std::min(credit + share * (kMonitorEventCost + kMonitorHitCost * pixels), kSavedEvents * std::max(cost, expected_cost));
  const Decision asked = decision;
  decision = Decision::none;
  const bool take = hits.pixels[0] != nullptr && (asked == Decision::take || decide(cost));
  if (take) credit -= cost;
  return take;
}

void Tracker::State::track(const KivoEventHits& hits) {
  for (int s = 0; s < kStaves; ++s) take_stave(s, hits.pixels[s], hits.count[s]);
  EventClusters event;
  for (int s = 0; s < kStaves; ++s) {
    event.now[s] = now[s].taken ? &now[s].clusters : nullptr;
    event.before[s] = before[s].taken ? &before[s].clusters : nullptr;
  }
  bool hot_ready = true;
  for (const HotPixelFilter& filter : hot) hot_ready = hot_ready && filter.ready();
  if (hot_ready) aligner.observe(event, events);
  bool all = true;
  for (int s = 0; s < kStaves; ++s) {
    all = all && now[s].taken && aligner.aligned(s);
    if (now[s].taken && aligner.aligned(s)) aligned[s].set(now[s].clusters, aligner.columns(s), aligner.rows(s));
  }
  const long slope_blocks = finder.mean_slope().blocks;
  for (int dut = 0; dut < kStaves; ++dut) {
    forget_tracks(dut);
    if (all) judge_stave(dut);
    match_lags(dut);
    fill_moved(dut);
  }
  if (const TrackFinder::MeanSlope& slope = finder.mean_slope(); slope.blocks != slope_blocks)
    aligner.follow_mean_slope(slope.columns, slope.rows, slope.error_columns, slope.error_rows, events);
}

Tracker::Tracker(const Settings& settings, Report report)
    : state_(std::make_unique<State>(settings, std::move(report))) {}

Tracker::~Tracker() = default;

bool Tracker::wants_event() {
  State& st = *state_;
  st.decision = st.decide(st.expected_cost) ? State::Decision::take : State::Decision::leave;
  return st.decision == State::Decision::take;
}

// An event not taken leaves no clusters behind: the next one has no
// neighbour to match lags with.
void Tracker::process(const KivoEventHits& hits) {
  State& st = *state_;
  st.events += 1;
  std::swap(st.now, st.before);
  if (st.take_event(hits)) {
    st.taken += 1;
    st.track(hits);
    return;
  }
  for (int s = 0; s < kStaves; ++s) {
    st.now[s].taken = st.now[s].predicted = false;
    st.now[s].clusters.clear();
    st.now[s].predictions.clear();
  }
}

void Tracker::reset() {
  State& st = *state_;
  st.objects.reset();
  st.aligner.reset();
  st.finder.reset();
  for (HotPixelFilter& filter : st.hot) filter.reset();
  for (StaveEvent& e : st.now) e = StaveEvent{};
  for (StaveEvent& e : st.before) e = StaveEvent{};
  st.events = st.taken = st.credit = 0;
  st.running = false;
  st.decision = State::Decision::none;
  st.expected_cost = kTrackingEventCost;
}

const Objects& Tracker::objects() {
  const Objects& handles = state_->objects.handles();
  state_->objects.sync();
  state_->aligner.write(handles);
  handles.events->SetBinContent(1, state_->events);
  handles.events->SetBinContent(2, state_->taken);
  handles.events->SetEntries(state_->events);
  return handles;
}

const Alignment& Tracker::alignment() const { return state_->aligner.alignment(); }
double Tracker::events() const { return state_->events; }
double Tracker::taken_events() const { return state_->taken; }
const Settings& Tracker::settings() const { return state_->settings; }

void Tracker::add_saved_objects(TList& list) {
  objects();
  for (TObject* object : state_->objects.all()) list.Add(object);
}

KivoHitSink hit_sink_of(Tracker& tracker) {
  return KivoHitSink{[](void* context) { return static_cast<Tracker*>(context)->wants_event() ? 1 : 0; },
                     [](const KivoEventHits* hits, void* context) { static_cast<Tracker*>(context)->process(*hits); },
                     [](void* context) { static_cast<Tracker*>(context)->reset(); }, &tracker};
}

}  // namespace kivo::tracking
