// The data-quality checks, one source file each. Every check judges the
// reading of one refresh (and the windows the history gives) and returns one
// result per stave, or per chip, or one for the whole detector.
#ifndef KIVO_HOST_QUALITY_CHECKS_H
#define KIVO_HOST_QUALITY_CHECKS_H

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "Config.h"
#include "CorrelationMasks.h"
#include "History.h"
#include "Reading.h"
#include "ReferenceRun.h"
#include "Verdict.h"

namespace kivo::quality {

// The peak of a difference distribution: the mean of the entries in the
// window of +/- `near` bins that holds the most; the range where it may as
// well lie (narrow for a sharp peak, wide for a broad or sparse
// distribution, whose other windows hold about as many entries); and the
// share of all entries (overflows included) inside the best window.
struct Peak {
  double position = 0;
  double low = 0, high = 0;
  double share = 0;
};

// What a run's first judgements left, for the checks that compare with them.
struct RunMemory {
  std::array<std::optional<BeamFit>, kStaves> first_beam;
  std::array<std::optional<Peak>, kDifferenceStaves> first_column_peak, first_row_peak;
  // When the masks behind the first peaks last changed: a change takes them anew.
  std::array<double, kDifferenceStaves> first_peaks_masked_since{};
  CorrelationMasks masks;
};

struct Context {
  const Config& config;
  const Reading& now;
  const History& history;
  const ReferenceRun* reference;  // null when none is loaded
  RunMemory& memory;
};

std::vector<Result> judge_dead_chips(const Context& context);
std::vector<Result> judge_hot_pixels(const Context& context);
std::vector<Result> judge_hit_rates(const Context& context);
std::vector<Result> judge_beam_positions(const Context& context);
std::vector<Result> judge_alignment(const Context& context);
std::vector<Result> judge_synchronisation(const Context& context);
std::vector<Result> judge_missing_packets(const Context& context);
std::vector<Result> judge_reference(const Context& context);

// Every enabled check, in the documented order.
std::vector<Result> judge_all(const Context& context);

// The hot pixels of stave `stave`'s raw map (HotPixels.cpp): pixels above the
// configured share of `events` that fire far more often than their neighbours.
HotPixels find_hot_pixels(const MonitorInputs& inputs, int stave, double events,
                          const HotPixelConfig& config);

// The peak of `bins` (a difference distribution, bins 0..n+1 of unit width
// centred on -511..511) with a window of +/- `near`; nullopt when it is empty.
std::optional<Peak> find_peak(const Bins& bins, double near);

// `a` minus `b`, bin by bin.
Bins difference(const Bins& a, const Bins& b);

// printf-style formatting into a string, for reasons.
std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));
// `value` as printf's "%.0f" writes it, for reasons printed at every refresh.
std::string whole(double value);

// The verdict for a value that must stay below `medium` and `bad`, or above
// them when `lower_is_worse`.
Verdict judge_limit(double value, double medium, double bad, bool lower_is_worse);

}  // namespace kivo::quality

#endif
