// A simulated run with kivo-sim's default settings, in memory and as a
// temporary stream file, shared by the paths that read or process it.
#ifndef KIVO_BENCH_SAMPLE_RUN_H
#define KIVO_BENCH_SAMPLE_RUN_H

#include <cstdint>
#include <string>
#include <vector>

#include "EventRecord.h"

namespace kivo::bench {

struct SampleRun {
  eventio::EventRecord begin;
  std::vector<eventio::EventRecord> data;  // sequence numbers 1..N
};

// A begin-run event and `events` data events, as kivo-sim writes them with
// `noise` noise hits per stave and event (kivo-sim's default unless given).
SampleRun simulate_run(std::uint32_t events, double noise = -1);

// Writes `run` to a new temporary stream file; empty on failure (reported on
// standard error). The caller removes the file.
std::string write_temporary_stream(const SampleRun& run);

}  // namespace kivo::bench

#endif
