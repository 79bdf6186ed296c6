#include "ReadoutUnits.h"

#include <algorithm>

#include "BeamDelivery.h"

namespace kivo::quality {

namespace {

// Why unit `unit` is lost in this judgement, or an empty text: every stave it
// serves silent in the shortest window (no hit, noise included, while other
// staves have theirs), or every chip of them flagged for too many hits.
std::string lost(const Context& context, const ReadoutUnit& unit, const std::array<bool, kStaves>& silent) {
  const bool all_silent = std::all_of(unit.staves.begin(), unit.staves.end(),
                                      [&](int s) { return silent[static_cast<std::size_t>(s)]; });
  if (all_silent)
    return format("readout unit %d lost: ", unit.number) + staves_text(unit.staves) +
           format(" without hits in the last %.0f events", context.config.occupancy.min_events);
  const bool all_noisy = std::all_of(unit.staves.begin(), unit.staves.end(), [&](int s) {
    const std::vector<signed char>& flags = context.memory.suspect_double_columns[static_cast<std::size_t>(s)];
    if (flags.size() != kDoubleColumns) return false;
    for (int chip = 0; chip < kChips; ++chip) {
      const auto first = flags.begin() + chip * kChipDoubleColumns;
      if (std::find(first, first + kChipDoubleColumns, 1) == first + kChipDoubleColumns) return false;
    }
    return true;
  });
  if (all_noisy)
    return format("readout unit %d noisy: every chip of ", unit.number) + staves_text(unit.staves) +
           " with too many hits";
  return "";
}

}  // namespace

const std::vector<ReadoutUnit>& readout_units() {
  static const std::vector<ReadoutUnit> units = {{1, {0, 2, 3}}, {2, {1}}};
  return units;
}

int unit_index(int number) {
  const std::vector<ReadoutUnit>& units = readout_units();
  for (std::size_t i = 0; i < units.size(); ++i)
    if (units[i].number == number) return static_cast<int>(i);
  return -1;
}

std::string staves_text(const std::vector<int>& staves) {
  std::string text = staves.size() == 1 ? "stave " : "staves ";
  for (std::size_t i = 0; i < staves.size(); ++i)
    text += (i == 0 ? "" : i + 1 == staves.size() ? " and " : ", ") + std::to_string(staves[i]);
  return text;
}

void name_lost_units(const Context& context, std::vector<Result>& results) {
  const bool flagged = std::any_of(results.begin(), results.end(),
                                   [](const Result& r) { return r.stave != kNone && r.verdict >= Verdict::Medium; });
  if (!flagged) return;
  const std::array<bool, kStaves> silent = silent_lately(context.history, context.now, context.config.occupancy.min_events);
  for (const ReadoutUnit& unit : readout_units()) {
    const std::string why = lost(context, unit, silent);
    if (why.empty()) continue;
    for (Result& result : results) {
      if (result.verdict < Verdict::Medium ||
          std::find(unit.staves.begin(), unit.staves.end(), result.stave) == unit.staves.end())
        continue;
      result.unit = unit.number;
      result.reason = why + ": " + result.reason;
    }
  }
}

}  // namespace kivo::quality
