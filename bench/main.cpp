// kivo-bench: runs the registered hot-path measurements and prints one line each.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "bench.h"

namespace {

constexpr const char* kAbout =
    "usage: kivo-bench [--list] [PATH]...\n"
    "Measures each hot path and, in the same run, the machine's own limit for the\n"
    "same work, and prints one line per path:\n"
    "  <path>: <value> <unit>; limit (<what>): <value> <unit>; ratio <r> (bar: ...) ok|MISS\n"
    "With PATH names only those paths run.\n";

constexpr const char* kNotes =
    "Each path runs in a process of its own, so that none measures memory, caches\n"
    "or a heap left by the paths before it.\n"
    "Exit status: 0 when every path reaches its bar, 1 when one misses it or fails,\n"
    "2 on a usage error (an unknown PATH too).\n";

bool selected(const std::vector<std::string>& names, const std::string& name) {
  if (names.empty()) return true;
  for (const std::string& wanted : names)
    if (wanted == name) return true;
  return false;
}

bool known(const std::string& name) {
  for (const auto& bench : kivo::bench::registry())
    if (bench.name == name) return true;
  return false;
}

void list_paths() {
  for (const auto& bench : kivo::bench::registry())
    std::printf("%s: %s\n", bench.name.c_str(), bench.description.c_str());
}

// The exit status when the command line ends the program, none when it goes on.
std::optional<int> parse_arguments(int argc, char** argv, std::vector<std::string>& names) {
  bool list = false;
  kivo::eventio::CommandLine line("kivo-bench", kAbout, kNotes);
  line.add({"list", 0, "", "list the paths", kivo::eventio::set_flag(list)});
  if (const std::optional<int> status = line.parse_for_main(argc, argv)) return status;
  if (list) {
    list_paths();
    return 0;
  }
  for (const std::string& name : line.operands()) {
    if (known(name)) continue;
    std::fprintf(stderr, "%s\n", line.usage_error(name, "unknown path; kivo-bench --list lists them").c_str());
    return 2;
  }
  names = line.operands();
  return std::nullopt;
}

// Runs `bench` in a child process, which prints its line; true when the path
// reached its bar. A path that crashes or cannot start is reported as failed.
bool run_in_child(const kivo::bench::Bench& bench) {
  std::fflush(stdout);
  const pid_t child = fork();
  if (child < 0) {
    std::perror("kivo-bench: fork");
    return false;
  }
  if (child == 0) {
    const kivo::bench::Result result = bench.run();
    std::printf("%s\n", kivo::bench::format_result(bench.name, result).c_str());
    std::fflush(stdout);
    _exit(result.ok() ? 0 : 1);
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child) status = -1;
  if (WIFEXITED(status)) return WEXITSTATUS(status) == 0;
  std::printf("%s: failed (%s)\n", bench.name.c_str(),
              WIFSIGNALED(status) ? strsignal(WTERMSIG(status)) : "no exit status");
  std::fflush(stdout);
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> names;
  if (const std::optional<int> status = parse_arguments(argc, argv, names)) return *status;
  bool all_ok = true;
  for (const auto& bench : kivo::bench::registry())
    if (selected(names, bench.name)) all_ok = run_in_child(bench) && all_ok;
  return all_ok ? 0 : 1;
}
