// The settings of the track reconstruction, as the [tracking] table of the
// checks' configuration gives them (host/quality/Config.cpp reads and checks
// them; the defaults below are those of default_checks.toml).
#ifndef KIVO_TRACKING_TRACKING_SETTINGS_H
#define KIVO_TRACKING_TRACKING_SETTINGS_H

#include <array>

namespace kivo::tracking {

inline constexpr int kStaves = 4;

struct Settings {
  // Off: no hits are handed to the reconstruction and it keeps no objects.
  bool enabled = true;
  // Position of each stave along the beam, staves 0..3, in any one unit;
  // four different numbers. Only their ratios matter.
  std::array<double, kStaves> plane_positions = {0, 1, 2, 3};
  // Least half-width of the road, in pixels: the middle one of the three
  // clusters of a track must lie this close to the line through the outer
  // two. The road widens to `road_widths` times the measured residual width
  // when that is larger.
  double road_pixels = 3;
  double road_widths = 5;
  // A cluster of the stave judged within this distance (pixels, columns and
  // rows alike) of a track's predicted position is a match.
  double matching_radius = 5;
  // Largest chi-square of a track's straight-line fit through its three
  // clusters (two degrees of freedom, one per axis), with the point
  // resolution measured from the tracks themselves.
  double max_chi2 = 30;
  // The most time the reconstruction may take on the event thread, as a
  // share of the monitor's own time for the same events (both estimated
  // from their hits). It takes as many events as that allows, in runs of
  // consecutive ones so that the lags can be matched, and counts the others.
  // A large value (100) takes every event.
  double cost_share = 0.25;
};

}  // namespace kivo::tracking

#endif
