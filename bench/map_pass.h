// The machine's limit for one pass over the four hit maps, and the timing
// of a path against it.
#ifndef KIVO_BENCH_MAP_PASS_H
#define KIVO_BENCH_MAP_PASS_H

#include <cstdio>
#include <functional>

#include <fcntl.h>
#include <unistd.h>

#include "bench.h"

namespace kivo::bench {

inline constexpr const char* kMultiplyCopy = "multiply-copy the four 9218x514 float maps";

// Runs `work` with standard output sent to /dev/null.
template <class Work>
void silently(Work&& work) {
  std::fflush(stdout);
  const int saved = dup(STDOUT_FILENO);
  const int null = open("/dev/null", O_WRONLY);
  dup2(null, STDOUT_FILENO);
  close(null);
  work();
  std::fflush(stdout);
  dup2(saved, STDOUT_FILENO);
  close(saved);
}

// Times `path`, a pass over the four hit maps, in turns with the machine's
// limit for such a pass: multiply-copy four maps of the same size. The path
// runs with standard output silenced; `max_ratio` is its bar.
Result map_pass_result(const std::function<void()>& path, double max_ratio = 3.0);

}  // namespace kivo::bench

#endif
