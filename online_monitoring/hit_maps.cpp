#include "hit_maps.h"

#include <algorithm>
#include <cstdint>

#include "TH2F.h"

namespace {

// Changed cells logged while the normalised maps are not whole. Past this
// many the maps are made whole at once (one pass over them, spread over at
// least this many hits) and the log stops until the next analysis.
constexpr std::size_t kChangeLogCapacity = std::size_t{1} << 22;

MapSummary kept_summaries[NSTAVE];
// Summaries computed afresh on every read, on the reference path.
MapSummary reference_summaries[NSTAVE];

// Counts the changes of the raw maps: fill batches, resets, and changes found
// behind the fill path.
std::uint64_t raw_generation = 0;

// The fill path keeps the summaries up to date from the first time
// something reads them (a refresh that analyses, the live view); until then
// a run costs nothing more to fill, and the first read computes them in one
// pass.
bool summaries_read = false;

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

bool on_fast_path() { return kernel_path() == KernelPath::fast; }

MapSummary& kept_summary(int stave) {
  summaries_read = true;
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
  for (auto& changes : last_analysis.changes) changes.clear();
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
      per_event_maxima(kept_summary(s).block_maxima, last_analysis.nevents,
                       last_analysis.overview[s]);
    else
      last_analysis.overview[s] = block_maxima_of(*h2d_chip_norm[s]);
  }
}

}  // namespace

void clear_raw_summaries() {
  for (int s = 0; s < NSTAVE; s++) clear_summary(*h2d_chip[s], kept_summaries[s]);
  raw_generation++;
}

void keep_last_analysis_maps() { materialise_norm_maps(); }

const MapSummary& raw_summary(int stave) {
  if (on_fast_path()) return kept_summary(stave);
  summarise_map(*h2d_chip[stave], reference_summaries[stave]);
  return reference_summaries[stave];
}

void hit_fill_targets(FillTarget (&targets)[NSTAVE]) {
  // The plain fill logs nothing.
  if (!on_fast_path() || logged_changes() >= kChangeLogCapacity) materialise_norm_maps();
  for (int s = 0; s < NSTAVE; s++) {
    targets[s].map = h2d_chip[s];
    const bool keep = on_fast_path() && summaries_read;
    targets[s].summary = keep ? &kept_summary(s) : nullptr;
    targets[s].changes = last_analysis.whole ? nullptr : &last_analysis.changes[s];
  }
  raw_generation++;
}

void start_norm_maps() {
  last_analysis = LastAnalysis();
  MapSummary copies;
  for (int s = 0; s < NSTAVE; s++) {
    summarise_map(*h2d_chip_norm[s], copies);
    last_analysis.overview[s] = copies.block_maxima;
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
