#include "BeamDelivery.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>

#include "Checks.h"
#include "History.h"

namespace kivo::quality {

namespace {

// A stave keeps less than this share of the hits it had per event over the
// run: it is silent.
constexpr double kSilentShare = 0.01;
// ... judged only where it expected this many hits in the window.
constexpr double kSilentFrom = 100;
// The run's beam must stand out from the fluctuation of its hits by this
// many standard deviations before a window is said to lack it.
constexpr double kBeamSignificance = 5;

NoiseFloor floor_of(const StaveReading& stave) {
  NoiseFloor floor;
  floor.excluded.assign(kDoubleColumns, 0);
  for (const HotPixel& pixel : stave.hot.pixels) floor.excluded[static_cast<std::size_t>(pixel.column / 2)] = 1;
  floor.quiet.assign(kDoubleColumns, 0);
  if (stave.double_columns.size() != kDoubleColumns) return floor;
  std::vector<double> counts;
  counts.reserve(kDoubleColumns);
  for (std::size_t d = 0; d < kDoubleColumns; ++d)
    if (!floor.excluded[d]) counts.push_back(stave.double_columns[d]);
  floor.valid = static_cast<double>(counts.size());
  if (counts.empty()) return floor;
  const auto middle = counts.begin() + static_cast<long>((counts.size() - 1) / 2);
  std::nth_element(counts.begin(), middle, counts.end());
  const double median = *middle;
  // The lower half: below the median, and as many at it as make up half.
  long at_median = static_cast<long>(counts.size() / 2) -
                   std::count_if(counts.begin(), counts.end(), [median](double c) { return c < median; });
  for (std::size_t d = 0; d < kDoubleColumns; ++d) {
    if (floor.excluded[d]) continue;
    const double c = stave.double_columns[d];
    if (c < median || (c == median && at_median-- > 0)) {
      floor.quiet[d] = 1;
      floor.quiet_count += 1;
    }
  }
  return floor;
}

StaveBeam beam_of(const std::vector<double>& later, const std::vector<double>* earlier, double events,
                  const NoiseFloor& floor) {
  StaveBeam beam;
  beam.events = events;
  if (later.size() != kDoubleColumns || floor.valid <= 0) return beam;
  double quiet = 0;
  for (std::size_t d = 0; d < kDoubleColumns; ++d) {
    if (floor.excluded[d]) continue;
    const double hits = later[d] - (earlier ? (*earlier)[d] : 0.0);
    beam.hits += hits;
    if (floor.quiet[d]) quiet += hits;
  }
  beam.noise_per_column = floor.quiet_count > 0 ? quiet / floor.quiet_count : 0;
  beam.signal = std::max(0.0, beam.hits - floor.valid * beam.noise_per_column);
  return beam;
}

}  // namespace

// What the checks of one judgement asked of a reading as `now`: the noise
// floors, the beam since the reset, and that of each window by its start.
struct BeamCache {
  std::array<std::optional<NoiseFloor>, kStaves> floors;
  std::optional<std::array<StaveBeam, kStaves>> run;
  std::vector<std::pair<const Reading*, std::array<StaveBeam, kStaves>>> windows;
};

namespace {

BeamCache& cache_of(const Reading& reading) {
  std::shared_ptr<BeamCache>& beams = reading.cache.beams;
  if (!beams) beams = std::make_shared<BeamCache>();
  return *beams;
}

// The beam of every stave from `start` to `now`, measured once.
const std::array<StaveBeam, kStaves>& window_beams(const Reading& start, const Reading& now) {
  BeamCache& cache = cache_of(now);
  for (const auto& [from, beams] : cache.windows)
    if (from == &start) return beams;
  std::array<StaveBeam, kStaves> beams;
  for (int s = 0; s < kStaves; ++s) beams[static_cast<std::size_t>(s)] = stave_beam(start, now, s, noise_floor(now, s));
  cache.windows.emplace_back(&start, beams);
  return cache.windows.back().second;
}

const std::array<StaveBeam, kStaves>& run_beams(const Reading& now) {
  BeamCache& cache = cache_of(now);
  if (!cache.run) {
    cache.run.emplace();
    for (int s = 0; s < kStaves; ++s) {
      const std::size_t index = static_cast<std::size_t>(s);
      (*cache.run)[index] = stave_beam(now.staves[index].double_columns, now.events, noise_floor(now, s));
    }
  }
  return *cache.run;
}

}  // namespace

const NoiseFloor& noise_floor(const Reading& reading, int stave) {
  std::optional<NoiseFloor>& kept = cache_of(reading).floors[static_cast<std::size_t>(stave)];
  if (!kept) kept = floor_of(reading.staves[static_cast<std::size_t>(stave)]);
  return *kept;
}

StaveBeam stave_beam(const std::vector<double>& double_columns, double events, const NoiseFloor& floor) {
  return beam_of(double_columns, nullptr, events, floor);
}

StaveBeam stave_beam(const Reading& start, const Reading& now, int stave, const NoiseFloor& floor) {
  const std::size_t index = static_cast<std::size_t>(stave);
  const std::vector<double>& earlier = start.staves[index].double_columns;
  return beam_of(now.staves[index].double_columns, earlier.empty() ? nullptr : &earlier, now.events - start.events,
                 floor);
}

Delivery delivered(const Reading& start, const Reading& now, const std::array<bool, kStaves>* silent) {
  Delivery delivery;
  delivery.events = now.events - start.events;
  if (!(delivery.events > 0) || !(now.events > 0)) return delivery;
  const double scale = delivery.events / now.events;
  int speaking = 0;
  delivery.window = window_beams(start, now);
  delivery.run = run_beams(now);
  for (std::size_t index = 0; index < kStaves; ++index) {
    const double expected = delivery.run[index].hits * scale;
    delivery.silent[index] = expected >= kSilentFrom && delivery.window[index].hits < kSilentShare * expected;
    speaking += !delivery.silent[index];
  }
  if (speaking == 0) delivery.silent = {};
  if (silent) delivery.silent = *silent;
  double window = 0, run = 0, run_hits = 0;
  for (std::size_t s = 0; s < kStaves; ++s) {
    if (delivery.silent[s]) continue;
    window += delivery.window[s].intensity();
    run += delivery.run[s].intensity();
    run_hits += delivery.run[s].hits;
  }
  delivery.known = run > 0 && run * now.events > kBeamSignificance * std::sqrt(run_hits);
  if (delivery.known) delivery.share = window / run;
  return delivery;
}

std::array<bool, kStaves> silent_lately(const History& history, const Reading& now, double events) {
  return delivered(history.window_start(now, events, Count::Events), now).silent;
}

std::string Delivery::no_beam() const {
  return format("no beam in the last %.0f events (the staves' hits above their noise floor were %.0f%% of the run's "
                "per event)",
                events, 100 * share);
}

}  // namespace kivo::quality
