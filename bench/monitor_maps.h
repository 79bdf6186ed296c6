// The monitor's state as the paths that measure a refresh need it: full maps
// as after a long run, or the maps of a simulated run.
#ifndef KIVO_BENCH_MONITOR_MAPS_H
#define KIVO_BENCH_MONITOR_MAPS_H

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <functional>

#include "bench.h"

namespace kivo::bench {

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

// Empties the raw histograms and the event counter, as a new run does.
void start_run();

// Every in-range cell of the four raw maps filled, as after a long run: a
// beam spot over a floor of one hit per pixel.
void fill_maps();

// Books, then processes a simulated run of `events` data events from its
// start and draws the canvas, silently.
void process_sample_run(std::uint32_t events);

// Resident memory, in MB, of a child process once `work` has run in it, so
// that nothing else this program holds is counted; 0 when it cannot be told.
double child_resident_megabytes(const std::function<void()>& work);

// Resident memory against the memory allowed a kivo process.
Result memory_result(double megabytes);

}  // namespace kivo::bench

#endif
