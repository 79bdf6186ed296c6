#include "WholeSum.h"

#include <cmath>
#include <cstring>

namespace rootcompat {

namespace {

using FourDoubles = double __attribute__((vector_size(4 * sizeof(double))));
using FourWords = long long __attribute__((vector_size(4 * sizeof(long long))));

// Magnitudes up to which the values' total is taken (see IsWhole; larger
// magnitudes fail the test of their total instead), and what rounds a value
// of smaller magnitude to a whole one.
constexpr double kMagnitudeBelow = 0x1p51;
constexpr double kRounding = 0x1.8p52;

}  // namespace

// Eight values at a time; the whole-number test is kept as bits, not flags,
// so that it stays in vector registers.
__attribute__((target_clones("avx2", "default"))) std::optional<double> WholeSum(const double* values,
                                                                                std::size_t n) {
  constexpr long long kMagnitudeBits = 0x7fffffffffffffff;
  FourDoubles totals[2] = {}, magnitudes[2] = {};
  FourWords changed_by_rounding[2] = {};
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8)
    for (int half = 0; half < 2; half++) {
      FourDoubles four;
      std::memcpy(&four, values + i + 4 * half, sizeof four);
      totals[half] += four;
      const FourDoubles rounded = (four + kRounding) - kRounding;
      changed_by_rounding[half] |= reinterpret_cast<FourWords>(rounded) ^ reinterpret_cast<FourWords>(four);
      magnitudes[half] += reinterpret_cast<FourDoubles>(reinterpret_cast<FourWords>(four) & kMagnitudeBits);
    }
  const FourWords changed = changed_by_rounding[0] | changed_by_rounding[1];
  const FourDoubles magnitude_lanes = magnitudes[0] + magnitudes[1];
  const FourDoubles total_lanes = totals[0] + totals[1];
  bool whole = (changed[0] | changed[1] | changed[2] | changed[3]) == 0;
  double magnitude = (magnitude_lanes[0] + magnitude_lanes[1]) + (magnitude_lanes[2] + magnitude_lanes[3]);
  double total = (total_lanes[0] + total_lanes[1]) + (total_lanes[2] + total_lanes[3]);
  for (; i < n; i++) {
    whole = whole && IsWhole(values[i]);
    magnitude += std::abs(values[i]);
    total += values[i];
  }
  if (!whole || !(magnitude < kMagnitudeBelow)) return std::nullopt;
  return total;
}

double SumInOrder(const double* values, std::size_t n) {
  if (const std::optional<double> whole = WholeSum(values, n)) return *whole;
  double total = 0;
  for (std::size_t i = 0; i < n; i++) total += values[i];
  return total;
}

}  // namespace rootcompat
