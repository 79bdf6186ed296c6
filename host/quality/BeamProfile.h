// The beam spot of one stave, measured from its hits over a stretch of
// events: the centre and width of the peak of the column and row profiles
// above their background. Hot pixels are left out (their columns and rows),
// a chip whose hits stand above its neighbours' as a flat step (a noisy chip)
// has that step taken as background, so neither can be mistaken for a beam.
#ifndef KIVO_HOST_QUALITY_BEAM_PROFILE_H
#define KIVO_HOST_QUALITY_BEAM_PROFILE_H

#include <optional>
#include <vector>

#include "Baseline.h"

namespace kivo::quality {

// The peak of one profile: its centre, its width (the sigma of a Gaussian),
// the hits above the background within two widths of the centre, and the
// background's hits there.
struct ProfilePeak {
  double centre = 0, width = 0;
  double signal = 0, background = 0;

  // How many standard deviations the signal stands above the background's
  // fluctuation.
  double significance() const;
  // The statistical uncertainties of the centre and of the width.
  double centre_error() const;
  double width_error() const;
};

struct BeamSpot {
  ProfilePeak column, row;  // stave-wide columns, displayed rows
};

// Flags of double columns or rows, one byte each (read at every bin of a
// profile, so not packed in bits).
using Flags = std::vector<unsigned char>;

// Double columns and rows to leave out of the profiles: those of hot
// pixels, and regions whose hits are taken as spread evenly over the rows (a
// noisy chip's), which the row profile then counts as background.
struct ProfileMask {
  Flags double_columns = Flags(kDoubleColumns, 0);
  Flags rows = Flags(kStaveRows, 0);
  Flags spread = Flags(kDoubleColumns, 0);

  // Leaves out the double columns where `flags` is not 0: those above 0 (too
  // many hits) with their hits spread over the rows.
  void leave_out(const std::vector<signed char>& flags);
  // Leaves out the column and the row of a hot pixel.
  void leave_out_pixel(int column, int row);
};

// The beam spot of `counts`, its columns measured in bins of 8 (a bin with
// a double column left out is left out); nullopt when either profile has no
// peak above its background.
std::optional<BeamSpot> measure_beam(const StaveCounts& counts, const ProfileMask& mask);

}  // namespace kivo::quality

#endif
