#include "BeamDelivery.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <numeric>
#include <optional>
#include <utility>

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

// The noise floor is the middle of the mean hits per double column of groups
// of this many double columns: a beam covering fewer than half of them, a
// noisy chip or a dead one cannot move it, and means of noise are as often
// above the noise as below it.
constexpr std::size_t kFloorGroup = 128;
constexpr std::size_t kFloorGroups = kDoubleColumns / kFloorGroup;

NoiseFloor floor_of(const StaveReading& stave) {
  NoiseFloor floor;
  floor.excluded.assign(kDoubleColumns, 0);
  for (const HotPixel& pixel : stave.hot.pixels) floor.excluded[static_cast<std::size_t>(pixel.column / 2)] = 1;
  floor.valid = static_cast<double>(std::count(floor.excluded.begin(), floor.excluded.end(), 0));
  return floor;
}

// The hits of double columns first..last - 1 that `floor` keeps, later less
// earlier, and how many it keeps. The hits are whole numbers, so that their
// sum is the same in any order: four sums run side by side and a left-out
// column adds zero, rather than one sum waiting on the last and a branch per
// column (the checks measure a window of every stave several times a
// judgement).
std::pair<double, double> kept_hits(const double* later, const double* earlier, const unsigned char* excluded,
                                    std::size_t first, std::size_t last) {
  constexpr std::size_t kLanes = 4;
  double hits[kLanes] = {}, valid[kLanes] = {};
  for (std::size_t d = first; d < last; d += kLanes)
    for (std::size_t lane = 0; lane < kLanes; ++lane) {
      const double keep = excluded[d + lane] ? 0.0 : 1.0;
      hits[lane] += keep * (later[d + lane] - (earlier ? earlier[d + lane] : 0.0));
      valid[lane] += keep;
    }
  return {(hits[0] + hits[1]) + (hits[2] + hits[3]), (valid[0] + valid[1]) + (valid[2] + valid[3])};
}

StaveBeam beam_of(const std::vector<double>& later, const std::vector<double>* earlier, double events,
                  const NoiseFloor& floor) {
  StaveBeam beam;
  beam.events = events;
  if (later.size() != kDoubleColumns || floor.valid <= 0) return beam;
  static_assert(kFloorGroup % 4 == 0);
  std::array<double, kFloorGroups> means{};
  std::size_t groups = 0;
  for (std::size_t g = 0; g < kFloorGroups; ++g) {
    const auto [hits, valid] = kept_hits(later.data(), earlier ? earlier->data() : nullptr, floor.excluded.data(),
                                         g * kFloorGroup, (g + 1) * kFloorGroup);
    beam.hits += hits;
    if (valid > 0) means[groups++] = hits / valid;
  }
  if (groups == 0) return beam;
  const auto middle = means.begin() + static_cast<long>((groups - 1) / 2);
  std::nth_element(means.begin(), middle, means.begin() + static_cast<long>(groups));
  beam.noise_per_column = *middle;
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

// The beam of every stave from `start` to `now`, measured once. A window
// from the reset point is the run since the reset: the same counts over the
// same events, so the same sums.
const std::array<StaveBeam, kStaves>& window_beams(const Reading& start, const Reading& now) {
  if (start.at_reset) return run_beams(now);
  BeamCache& cache = cache_of(now);
  for (const auto& [from, beams] : cache.windows)
    if (from == &start) return beams;
  std::array<StaveBeam, kStaves> beams;
  for (int s = 0; s < kStaves; ++s) beams[static_cast<std::size_t>(s)] = stave_beam(start, now, s, noise_floor(now, s));
  cache.windows.emplace_back(&start, beams);
  return cache.windows.back().second;
}

}  // namespace

const NoiseFloor& noise_floor(const Reading& reading, int stave) {
  std::optional<NoiseFloor>& kept = cache_of(reading).floors[static_cast<std::size_t>(stave)];
  const StaveReading& counts = reading.staves[static_cast<std::size_t>(stave)];
  if (!kept) kept = floor_of(counts);
  return *kept;
}

bool holds_beam(const StaveBeam& beam) {
  return beam.signal > 0 && beam.signal > kBeamSignificance * std::sqrt(beam.hits);
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
  std::vector<double> shares;
  for (std::size_t s = 0; s < kStaves; ++s)
    if (!delivery.silent[s] && holds_beam(delivery.run[s]))
      shares.push_back(delivery.window[s].intensity() / delivery.run[s].intensity());
  delivery.known = !shares.empty();
  if (!delivery.known) return delivery;
  const auto middle = shares.begin() + static_cast<long>((shares.size() - 1) / 2);
  std::nth_element(shares.begin(), middle, shares.end());
  delivery.share = *middle;
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
