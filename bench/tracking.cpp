// The track reconstruction's cost: kivo -b -q on a simulated run of five
// particles per event, with the reconstruction on as configured by default,
// against the same file with it off.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "bench.h"
#include "child_process.h"
#include "sample_run.h"

namespace {

constexpr std::uint32_t kEvents = 100000;
constexpr int kRuns = 5;

// Runs kivo to the end of `stream`; false, said on standard error, when it fails.
bool ingest(const std::vector<std::string>& options, const std::string& stream) {
  std::vector<std::string> argv = {kivo::bench::program_beside_bench("kivo"), "-b", "-q"};
  argv.insert(argv.end(), options.begin(), options.end());
  argv.push_back(stream);
  kivo::bench::Child kivo(argv);
  if (kivo.wait() == 0) return true;
  std::fprintf(stderr, "kivo-bench: kivo -b -q %s did not run to success\n", stream.c_str());
  return false;
}

kivo::bench::Result ingestion_with_tracking() {
  const kivo::bench::SampleRun run = kivo::bench::simulate_run(kEvents);
  const std::string stream = kivo::bench::write_temporary_stream(run);
  if (stream.empty()) return {};
  const std::string off = stream + ".toml";
  std::ofstream(off) << "[tracking]\nenabled = false\n";
  const std::vector<std::string> with = {}, without = {"--checks", off};
  bool ok = ingest(with, stream) && ingest(without, stream);  // the files into the page cache
  double with_seconds = 0, without_seconds = 0;
  if (ok)
    kivo::bench::alternate_best_seconds(
        kRuns, [&] { ok = ingest(with, stream) && ok; }, [&] { ok = ingest(without, stream) && ok; }, with_seconds,
        without_seconds);
  ::unlink(stream.c_str());
  ::unlink(off.c_str());
  if (!ok) return {};
  return kivo::bench::rate_result(kEvents / with_seconds, "the same file, [tracking] enabled = false",
                                  kEvents / without_seconds, "events/s", 0.75);
}

}  // namespace

KIVO_BENCH("ingestion with tracking", "kivo -b -q, 5 particles per event, with the track reconstruction",
           ingestion_with_tracking);
