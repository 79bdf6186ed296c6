#include "hit_maps.h"

#include <algorithm>
#include <cstdint>
#include <system_error>
#include <thread>

#include "TH2F.h"

namespace {

// Changed cells logged while the normalised maps are not whole. Past this
// many the maps are made whole at once (one pass over them, spread over at
// least this many hits) and the log stops until the next analysis.
constexpr std::size_t kChangeLogCapacity = std::size_t{1} << 22;

MapSummary kept_summaries[NSTAVE];
// Summaries computed afresh on every read, on the reference path.
MapSummary reference_summaries[NSTAVE];
NeighbourhoodFloors hot_cell_floors[NSTAVE];

// The last hot cells found on the fast path, with what they were found for:
// a map whose entries and summary are unchanged holds the same contents.
struct FoundHotCells {
  HotCells cells;
  double entries = -1;
  std::uint64_t rewrites = 0;
  double threshold = 0, ratio = 0;
};
FoundHotCells last_hot_cells[NSTAVE];

// Counts the changes of the raw maps: fill batches, resets, and changes found
// behind the fill path.
std::uint64_t raw_generation = 0;

// Whether the fill path keeps the summaries up to date. Keeping them costs a
// little on every hit; leaving them costs one pass over the maps at the next
// read. They are kept once reads recur with hits filled in between (a
// refresh that analyses, a live view), and left once kUnreadHits hits have
// been filled since the last read, about where the little per hit adds up to
// one pass. After the maps are cleared they are kept for the first
// kHitsKeptFromClear hits only: a periodic refresh reads them after the
// first data event, which a pass over the nearly empty maps would cost as
// much as over full ones, and a batch run that never reads them again
// stops paying after those few.
constexpr double kUnreadHits = 5e6;
constexpr double kHitsKeptFromClear = 1e5;
bool keeping_summaries = false;
double unread_hits_kept = 0;   // kUnreadHits, or kHitsKeptFromClear after a clear
double entries_at_read = -1;  // all maps' entries at the last read or clear

double all_entries() {
  double entries = 0;
  for (const TH2F* map : h2d_chip) entries += map->GetEntries();
  return entries;
}

void note_read() {
  const double entries = all_entries();
  if (entries_at_read >= 0 && entries != entries_at_read) {
    keeping_summaries = true;
    unread_hits_kept = kUnreadHits;
  }
  entries_at_read = entries;
}

void note_fill() {
  if (keeping_summaries && all_entries() - entries_at_read > unread_hits_kept) keeping_summaries = false;
}

// The last analysis that got past the event-count test (or, before one, the
// copies the derived maps were created as).
struct LastAnalysis {
  double nevents = 0;
  std::uint64_t generation = 0;  // of the raw maps it saw
  bool whole = true;             // h2d_chip_norm holds its normalised maps
  std::vector<float> overview[NSTAVE];
  // While not whole: every change of an in-range raw cell since, in order.
  std::vector<ChangedCell> changes[NSTAVE];
};

LastAnalysis last_analysis;

// While the changes of a raw map are logged, the fill path leaves its
// summary and the summary is brought in step from the log when next read
// (or before the log is emptied): the per-hit work moves out of the fill
// loop into one tight pass at the refresh. From log entry `replay_from` on,
// with `added_entries` the entries the fill path added meanwhile.
struct DeferredSummary {
  bool deferred = false;
  std::size_t replay_from = 0;
  double added_entries = 0;
};
DeferredSummary deferred_summaries[NSTAVE];

bool on_fast_path() { return kernel_path() == KernelPath::fast; }

// A deferred summary brought in step from the log, unless the map changed
// other than by the fill path meanwhile (its in-step test then fails).
void catch_up(int stave) {
  DeferredSummary& deferred = deferred_summaries[stave];
  if (!deferred.deferred) return;
  deferred.deferred = false;
  MapSummary& summary = kept_summaries[stave];
  if (summary.entries + deferred.added_entries == h2d_chip[stave]->GetEntries())
    replay_changes(*h2d_chip[stave], last_analysis.changes[stave], deferred.replay_from, summary);
}

void catch_up_all() {
  for (int s = 0; s < NSTAVE; s++) catch_up(s);
}

MapSummary& kept_summary(int stave) {
  catch_up(stave);
  MapSummary& summary = kept_summaries[stave];
  if (!summary_in_step(*h2d_chip[stave], summary)) {
    summarise_map(*h2d_chip[stave], summary);
    raw_generation++;
  }
  return summary;
}

std::size_t logged_changes() {
  std::size_t logged = 0;
  for (const auto& changes : last_analysis.changes) logged += changes.size();
  return logged;
}

void forget_changes() {
  catch_up_all();
  for (auto& changes : last_analysis.changes) changes.clear();
}

// Leaves stave `stave`'s summary to be brought in step from the log, in
// step now; the entries the fill path adds are counted into the result.
double* defer_summary(int stave) {
  DeferredSummary& deferred = deferred_summaries[stave];
  if (!deferred.deferred) {
    kept_summary(stave);
    deferred = {true, last_analysis.changes[stave].size(), 0};
  }
  return &deferred.added_entries;
}

// Whether h2d_chip_norm already holds the normalised maps of an analysis of
// the current raw maps with `nevents` events.
bool norm_maps_current(double nevents) {
  return last_analysis.whole && last_analysis.nevents == nevents &&
         last_analysis.generation == raw_generation;
}

void take_overviews() {
  for (int s = 0; s < NSTAVE; s++) {
    if (on_fast_path())
      per_event_maxima(raw_summary(s).block_maxima, last_analysis.nevents,
                       last_analysis.overview[s]);
    else
      last_analysis.overview[s] = block_maxima_of(*h2d_chip_norm[s]);
  }
}

MapSummary& summary_to_read(int stave) {
  note_read();
  if (on_fast_path()) return kept_summary(stave);
  summarise_map(*h2d_chip[stave], reference_summaries[stave]);
  return reference_summaries[stave];
}

}  // namespace

void clear_raw_summaries() {
  for (int s = 0; s < NSTAVE; s++) {
    deferred_summaries[s] = DeferredSummary();
    clear_summary(*h2d_chip[s], kept_summaries[s]);
  }
  raw_generation++;
  keeping_summaries = true;
  unread_hits_kept = kHitsKeptFromClear;
  entries_at_read = all_entries();
}

void keep_last_analysis_maps() { materialise_norm_maps(); }

void catch_up_summaries() {
  // Below this many changes to replay a second thread costs more than it saves.
  constexpr std::size_t kChangesForTwoThreads = std::size_t{1} << 16;
  std::size_t changes = 0;
  for (int s = 0; s < NSTAVE; s++)
    if (deferred_summaries[s].deferred)
      changes += last_analysis.changes[s].size() - deferred_summaries[s].replay_from;
  if (changes < kChangesForTwoThreads) {
    catch_up_all();
    return;
  }
  std::thread second_half;
  try {
    second_half = std::thread([] {
      for (int s = NSTAVE / 2; s < NSTAVE; s++) catch_up(s);
    });
  } catch (const std::system_error&) {
    catch_up_all();  // no thread to be had: one after the other
    return;
  }
  for (int s = 0; s < NSTAVE / 2; s++) catch_up(s);
  second_half.join();
}

const MapSummary& raw_summary(int stave) { return summary_to_read(stave); }

const HotCells& raw_hot_cells(int stave, double threshold, double ratio) {
  MapSummary& summary = summary_to_read(stave);
  FoundHotCells& found = last_hot_cells[stave];
  const double entries = h2d_chip[stave]->GetEntries();
  if (!on_fast_path() || found.entries != entries || found.rewrites != summary.rewrites ||
      found.threshold != threshold || found.ratio != ratio) {
    found.cells = hot_cells(*h2d_chip[stave], summary, threshold, ratio, hot_cell_floors[stave]);
    found.entries = entries;
    found.rewrites = summary.rewrites;
    found.threshold = threshold;
    found.ratio = ratio;
  }
  return found.cells;
}

void hit_fill_targets(FillTarget (&targets)[NSTAVE]) {
  // The plain fill logs nothing.
  if (!on_fast_path() || logged_changes() >= kChangeLogCapacity) materialise_norm_maps();
  note_fill();
  const bool keep = on_fast_path() && keeping_summaries;
  const bool log = !last_analysis.whole;
  for (int s = 0; s < NSTAVE; s++) {
    targets[s] = FillTarget();
    targets[s].map = h2d_chip[s];
    targets[s].changes = log ? &last_analysis.changes[s] : nullptr;
    if (keep && log)
      targets[s].added_entries = defer_summary(s);
    else if (keep)
      targets[s].summary = &kept_summary(s);
  }
  raw_generation++;
}

void start_norm_maps() {
  catch_up_all();
  last_analysis = LastAnalysis();
  for (int s = 0; s < NSTAVE; s++) {
    if (on_fast_path())
      last_analysis.overview[s] = kept_summary(s).block_maxima;
    else
      last_analysis.overview[s] = block_maxima_of(*h2d_chip_norm[s]);
  }
  last_analysis.generation = raw_generation;
}

void record_norm_maps(double nevents, bool whole) {
  if (on_fast_path())
    for (int s = 0; s < NSTAVE; s++) kept_summary(s);
  if (norm_maps_current(nevents)) return;
  last_analysis.nevents = nevents;
  last_analysis.generation = raw_generation;
  forget_changes();
  last_analysis.whole = whole || !on_fast_path();
  if (last_analysis.whole)
    for (int s = 0; s < NSTAVE; s++) normalise_map(*h2d_chip[s], nevents, *h2d_chip_norm[s]);
  take_overviews();
}

void materialise_norm_maps() {
  if (last_analysis.whole) return;
  for (int s = 0; s < NSTAVE; s++)
    normalise_map_before(*h2d_chip[s], last_analysis.changes[s], last_analysis.nevents,
                         *h2d_chip_norm[s]);
  forget_changes();
  last_analysis.whole = true;
}

const std::vector<float>& norm_overview(int stave) { return last_analysis.overview[stave]; }

void norm_region(int stave, int first_x, int last_x, int first_y, int last_y, float* out) {
  if (!last_analysis.whole) {
    normalise_region_before(*h2d_chip[stave], last_analysis.changes[stave], last_analysis.nevents,
                            first_x, last_x, first_y, last_y, out);
    return;
  }
  const TH2F& map = *h2d_chip_norm[stave];
  const int stride = map.GetNbinsX() + 2;
  const float* cells = map.GetArray();
  for (int y = first_y; y <= last_y; y++)
    out = std::copy(cells + y * stride + first_x, cells + y * stride + last_x + 1, out);
}
