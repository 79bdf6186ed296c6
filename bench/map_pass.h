// The machine's limit for one pass over the four hit maps, and the timing
// of a path against it.
#ifndef KIVO_BENCH_MAP_PASS_H
#define KIVO_BENCH_MAP_PASS_H

#include <functional>

#include "bench.h"

namespace kivo::bench {

inline constexpr const char* kMultiplyCopy = "multiply-copy the four 9218x514 float maps";

// Times `path`, a pass over the four hit maps, in turns with the machine's
// limit for such a pass: multiply-copy four maps of the same size. The path
// runs with standard output silenced; `max_ratio` is its bar.
Result map_pass_result(const std::function<void()>& path, double max_ratio = 3.0);

}  // namespace kivo::bench

#endif
