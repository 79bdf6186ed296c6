// The pixels left out of the stave correlations that the synchronisation
// and alignment checks judge: the hot pixels found in this run, handed to the
// monitor, so that the few pixels that fire in most events do not pull the
// per-event mean positions.
#ifndef KIVO_HOST_QUALITY_CORRELATION_MASKS_H
#define KIVO_HOST_QUALITY_CORRELATION_MASKS_H

#include <array>
#include <set>
#include <utility>

#include "Reading.h"

namespace kivo::quality {

struct CorrelationMasks {
  // Masked pixels of each stave: (stave-wide column, displayed row).
  std::array<std::set<std::pair<int, int>>, kStaves> pixels;
  // Events with the packet at the reading after which a stave's mask last
  // took in a pixel firing often enough to pull the mean positions: windows
  // start there, so that they hold no entries the pixel pulled.
  std::array<double, kStaves> masked_since{};
  double last_events = -1;  // of the last reading, to tell a reset
  bool applied = false;     // the monitor holds these masks
};

// Takes the hot pixels `now` found into `masks` and hands each stave's mask
// that changed (each, the first time) to the monitor.
void update_correlation_masks(const MonitorInputs& inputs, const Reading& now, CorrelationMasks& masks);

// Events with the packet from which the correlations of staves `a` and `b`
// hold masked entries only, at reading `now`.
double masked_since(const CorrelationMasks& masks, const Reading& now, int a, int b);

}  // namespace kivo::quality

#endif
