// What the beam delivered over stretches of a run, measured where a fault
// of one chip or stave cannot hide it: the hits of every stave above its
// noise floor (the middle of the mean hits per double column of groups of
// them, where the beam is not), busy events and hot pixels left out. The checks scale what they expect of a window by it, so that spills
// and changes of intensity are no fault, and do not judge a window without
// beam: between spills, every stave's beam is gone at once.
#ifndef KIVO_HOST_QUALITY_BEAM_DELIVERY_H
#define KIVO_HOST_QUALITY_BEAM_DELIVERY_H

#include <array>
#include <string>
#include <vector>

#include "BeamProfile.h"
#include "Reading.h"

namespace kivo::quality {

class History;

// A window holds beam when its beam per event is at least this share of the
// run's since the reset.
inline constexpr double kLeastBeam = 0.1;

// The double columns of a stave left out of every count: those of its hot
// pixels, listed in `reading`.
struct NoiseFloor {
  Flags excluded;
  double valid = 0;  // double columns not left out
};
const NoiseFloor& noise_floor(const Reading& reading, int stave);

// A stave's hits over a stretch of `events` events, and the part of them
// above the noise floor (its beam).
struct StaveBeam {
  double events = 0, hits = 0, signal = 0;
  double noise_per_column = 0;  // hits per valid double column at the floor
  double intensity() const { return events > 0 ? signal / events : 0; }
};
StaveBeam stave_beam(const std::vector<double>& double_columns, double events, const NoiseFloor& floor);
// Whether the beam of `beam` stands out from the fluctuation of its hits.
bool holds_beam(const StaveBeam& beam);
// The same for the stretch from `start` to `now` (both readings of the run).
StaveBeam stave_beam(const Reading& start, const Reading& now, int stave, const NoiseFloor& floor);

// What the beam delivered in the window from `start` to `now`, against the
// run since the reset.
struct Delivery {
  double events = 0;
  // The window's beam per event over the run's: the middle (the lower
  // middle) of the staves that are not silent and hold a beam; 1 while none
  // does (then nothing tells a window without beam).
  double share = 1;
  bool known = false;
  // Staves that lost (almost) every hit, noise included, while another
  // stave did not: a fault of theirs, not the want of beam.
  std::array<bool, kStaves> silent{};
  std::array<StaveBeam, kStaves> window{}, run{};
  bool has_beam() const { return !known || share >= kLeastBeam; }
  // "no beam in the last 1000 events (...)"
  std::string no_beam() const;
};
// With `silent`, those staves are taken as silent (as the most recent window
// found them: a window that began before a stave lost its hits still holds
// some of them).
Delivery delivered(const Reading& start, const Reading& now, const std::array<bool, kStaves>* silent = nullptr);
// The staves silent in the last `events` events (at least) before `now`.
std::array<bool, kStaves> silent_lately(const History& history, const Reading& now, double events);

}  // namespace kivo::quality

#endif
