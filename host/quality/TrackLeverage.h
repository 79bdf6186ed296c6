// Which stave's clusters lie off the tracks. A track for one stave is
// fitted through the clusters of the other three, so a stave whose clusters
// moved a little (within the road: a low column address bit stuck, a chip
// read a few columns off) widens the residuals of the other staves too, by
// its weight in their fits, most those beyond it along the beam. From how the
// four staves' residuals widened together the stave whose clusters explain
// it is found, so that the others are not blamed.
#ifndef KIVO_HOST_QUALITY_TRACK_LEVERAGE_H
#define KIVO_HOST_QUALITY_TRACK_LEVERAGE_H

#include <array>
#include <optional>

#include "Reading.h"

namespace kivo::quality {

struct Context;
struct TrackWindow;

// How much a displacement of stave `moved`'s clusters moves the residuals of
// stave `judged` (1 for the stave itself), for planes at `positions`: the
// weight of `moved` in the straight-line fit through the three staves other
// than `judged`, at `judged`'s place.
double leverage(const std::array<double, kStaves>& positions, int judged, int moved);

// Residuals that widened in a window along one axis (columns or rows): per
// stave, the growth of their variance against the residuals check's
// expectation, and its ratio of widths.
struct Widening {
  int stave = -1;  // whose clusters explain the widening of all
  std::array<double, kStaves> excess{}, ratio{};
};

// The stave whose displaced clusters explain the widening of the residuals
// in `window`, when its own residuals widened about as far as the Medium width limit
// and others' widened with it as its weight in their tracks makes them; of
// the two axes, the one where it widened most.
std::optional<Widening> widening_culprit(const Context& context, const TrackWindow& window);

}  // namespace kivo::quality

#endif
