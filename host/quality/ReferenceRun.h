// A known-good run, read from a file written by save() or the run archive: the distributions
// the reference checks compare with and the page overlays on the current
// run's, and the fitted beam positions.
#ifndef KIVO_HOST_QUALITY_REFERENCE_RUN_H
#define KIVO_HOST_QUALITY_REFERENCE_RUN_H

#include <array>
#include <optional>
#include <string>

#include "BeamProfile.h"
#include "Reading.h"

namespace kivo::quality {

struct ReferenceRun {
  std::string path;
  double events = 0;  // with the detector packet
  std::array<Bins, kStaves> hits_per_event;
  std::array<Bins, kDifferenceStaves> column_differences, row_differences;
  std::array<std::optional<BeamFit>, kStaves> beam;  // none when the stave had no fit
  // Hits per column and per row without hot pixels, and the beam spot
  // measured from them as this run's is; empty (none) when the file holds no
  // such profiles (a file saved before kivo wrote them).
  std::array<HitProfiles, kStaves> profiles;
  std::array<std::optional<BeamSpot>, kStaves> beam_spot;
};

// Reads a file that save() writes, ROOT JSON (.json) or a ROOT file (.root,
// as the run archive's files are); nullopt with `error` naming the file and
// what is wrong (unreadable, neither kind, an object missing).
std::optional<ReferenceRun> load_reference(const std::string& path, std::string& error);

}  // namespace kivo::quality

#endif
