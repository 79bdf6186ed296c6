// The monitor's state as the paths that measure a refresh need it: full maps
// as after a long run, or the maps of a simulated run.
#ifndef KIVO_BENCH_MONITOR_MAPS_H
#define KIVO_BENCH_MONITOR_MAPS_H

#include <cstdint>
#include <functional>

#include "bench.h"

namespace kivo::bench {

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
