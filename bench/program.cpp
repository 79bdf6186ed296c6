// The whole program on a stream file: kivo -b -q, process start included,
// against the machine's limit for event processing on the same hits.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "bench.h"
#include "child_process.h"
#include "event_limit.h"
#include "sample_run.h"

extern char** environ;

namespace {

constexpr std::uint32_t kEvents = 100000;
constexpr int kRuns = 5;

// Runs `argv` with standard output and error sent to /dev/null; true when it
// exits with status 0, else says how it ended.
bool run_quietly(char* const argv[]) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  pid_t child = 0;
  const int spawn_error = posix_spawn(&child, argv[0], &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  if (spawn_error == 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0)
    return true;
  std::fprintf(stderr, "kivo-bench: %s -b -q %s did not run to success (%s)\n", argv[0], argv[3],
               spawn_error != 0 ? "cannot start it" : "non-zero exit");
  return false;
}

kivo::bench::Result batch_program() {
  const kivo::bench::SampleRun run = kivo::bench::simulate_run(kEvents);
  std::string stream = kivo::bench::write_temporary_stream(run);
  if (stream.empty()) return {};
  std::string program = kivo::bench::program_beside_bench("kivo");
  std::string batch = "-b", quit = "-q";
  char* const argv[] = {program.data(), batch.data(), quit.data(), stream.data(), nullptr};
  const auto channels = kivo::bench::mapped_channels(run.data);
  const double hits = static_cast<double>(kivo::bench::count_hits(channels));
  auto maps = kivo::bench::limit_maps();
  bool ok = run_quietly(argv);  // also brings the program and the file into the page cache
  double program_seconds = 0, limit_seconds = 0;
  if (ok)
    kivo::bench::alternate_best_seconds(
        kRuns, [&] { ok = run_quietly(argv) && ok; },
        [&] { kivo::bench::decode_and_increment(channels, maps); }, program_seconds, limit_seconds);
  kivo::bench::keep(maps);
  ::unlink(stream.c_str());
  if (!ok) return {};
  return kivo::bench::rate_result(hits / program_seconds, "decode the same words into flat float maps",
                                  hits / limit_seconds, "hits/s", 0.3);
}

}  // namespace

KIVO_BENCH("kivo -b -q", "the kivo program in batch mode on a simulated stream file", batch_program);
