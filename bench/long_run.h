// Hit maps as a long or noisy run leaves them, and as a short run does, for
// the paths that refresh or publish: filled through process_event with
// simulated events, so that everything the monitor keeps beside its maps is
// as a real run leaves it.
#ifndef KIVO_BENCH_LONG_RUN_H
#define KIVO_BENCH_LONG_RUN_H

namespace kivo::bench {

// Books the monitor if needed, begins a run (no refresh while filling) and
// processes noisy simulated events until at least `occupancy` of the pixels
// of every stave hold a hit. Returns the least fraction of a stave's pixels
// hit.
double fill_long_noisy_run(double occupancy);

// Books the monitor if needed, begins a run and processes `events` events of
// kivo-sim's default settings. Returns the least fraction of a stave's
// pixels hit.
double fill_short_run(int events);

}  // namespace kivo::bench

#endif
