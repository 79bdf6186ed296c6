// The readout units of the detector and the staves each serves, as the
// monitor's channel map wires them: unit 1 reads staves 0, 2 and 3, unit 2
// stave 1. When every stave of a unit has lost its hits, or every chip of it
// is noisy, at once, the fault is the unit's: the results it explains name
// the unit, and are raised as one alarm.
#ifndef KIVO_HOST_QUALITY_READOUT_UNITS_H
#define KIVO_HOST_QUALITY_READOUT_UNITS_H

#include <string>
#include <vector>

#include "Checks.h"

namespace kivo::quality {

struct ReadoutUnit {
  int number;
  std::vector<int> staves;
};
const std::vector<ReadoutUnit>& readout_units();
// The unit's position in readout_units(), or -1.
int unit_index(int number);
// "staves 0, 2 and 3", "stave 1"
std::string staves_text(const std::vector<int>& staves);

// Marks the results of `results` (Medium or Bad, on a stave of a unit lost
// in the judgement of `context`) with the unit and names it in their reason.
void name_lost_units(const Context& context, std::vector<Result>& results);

}  // namespace kivo::quality

#endif
