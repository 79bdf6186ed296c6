// The run registry's cost: kivo -b -q --archive on twenty short runs, each
// recorded in the registry at its end, against the same runs archived with
// --no-registry. Twice: an SQLite registry in the archive, and a PostgreSQL
// server that does not answer (the rows wait on disk beside the archive).
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench.h"
#include "child_process.h"

namespace {

namespace fs = std::filesystem;

constexpr int kRunsRecorded = 20;
constexpr int kEventsPerRun = 2000;
constexpr int kRuns = 5;
// Nothing listens on port 1 of the loopback: a server away.
constexpr const char* kServerAway = "postgresql://kivo@127.0.0.1:1/runs";

bool succeeds(const std::vector<std::string>& argv) {
  kivo::bench::Child child(argv);
  if (child.wait() == 0) return true;
  std::fprintf(stderr, "kivo-bench: %s did not run to success\n", argv.front().c_str());
  return false;
}

// The runs as kivo-sim writes them, each with its end-run event, in `directory`.
std::vector<std::string> simulate_runs(const fs::path& directory) {
  std::vector<std::string> streams;
  for (int run = 1; run <= kRunsRecorded; ++run) {
    const std::string stream = (directory / ("run" + std::to_string(run) + ".kevt")).string();
    if (!succeeds({kivo::bench::program_beside_bench("kivo-sim"), "--events", std::to_string(kEventsPerRun), "--run",
                   std::to_string(run), "--seed", std::to_string(run), "--end-run", "-o", stream}))
      return {};
    streams.push_back(stream);
  }
  return streams;
}

// kivo archives the runs into a fresh `archive`, with `options`.
bool archive_runs(const fs::path& archive, const std::vector<std::string>& options,
                  const std::vector<std::string>& streams) {
  std::error_code ignored;
  fs::remove_all(archive, ignored);
  fs::create_directories(archive, ignored);
  std::vector<std::string> argv = {kivo::bench::program_beside_bench("kivo"), "-b", "-q", "--archive",
                                   archive.string()};
  argv.insert(argv.end(), options.begin(), options.end());
  argv.insert(argv.end(), streams.begin(), streams.end());
  return succeeds(argv);
}

kivo::bench::Result ingestion_recorded(const std::vector<std::string>& registry) {
  std::error_code error;
  const fs::path directory = fs::temp_directory_path(error) / ("kivo-bench-registry-" + std::to_string(::getpid()));
  fs::create_directories(directory, error);
  const std::vector<std::string> streams = simulate_runs(directory);
  const fs::path archive = directory / "archive";
  const std::vector<std::string> without = {"--no-registry"};
  bool ok = !streams.empty() && archive_runs(archive, registry, streams);  // the files into the page cache
  double with_seconds = 0, without_seconds = 0;
  if (ok)
    kivo::bench::alternate_best_seconds(
        kRuns, [&] { ok = archive_runs(archive, registry, streams) && ok; },
        [&] { ok = archive_runs(archive, without, streams) && ok; }, with_seconds, without_seconds);
  fs::remove_all(directory, error);
  if (!ok) return {};
  const double events = double(kRunsRecorded) * kEventsPerRun;
  return kivo::bench::rate_result(events / with_seconds, "the same runs archived with --no-registry",
                                  events / without_seconds, "events/s", 0.9);
}

kivo::bench::Result ingestion_with_registry() { return ingestion_recorded({}); }

kivo::bench::Result ingestion_with_registry_away() { return ingestion_recorded({"--registry", kServerAway}); }

}  // namespace

KIVO_BENCH("ingestion with registry", "kivo -b -q --archive, 20 runs recorded in the archive's SQLite registry",
           ingestion_with_registry);
KIVO_BENCH("ingestion with registry away",
           "the same, the registry a PostgreSQL server that does not answer (rows wait on disk)",
           ingestion_with_registry_away);
