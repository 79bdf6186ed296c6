// kivo-bench: runs the registered hot-path measurements and prints one line each.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "bench.h"

namespace {

void print_help() {
  std::printf(
      "usage: kivo-bench [--list] [PATH]...\n"
      "Measures each hot path and, in the same run, the machine's own limit for the\n"
      "same work, and prints one line per path:\n"
      "  <path>: <value> <unit>; limit (<what>): <value> <unit>; ratio <r> (bar: ...) ok|MISS\n"
      "With PATH names only those paths run. Exit status 1 when a path misses its bar.\n\n"
      "  --list       list the paths\n"
      "  -h, --help   this text\n");
}

bool selected(const std::vector<std::string>& names, const std::string& name) {
  if (names.empty()) return true;
  for (const std::string& wanted : names)
    if (wanted == name) return true;
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> names;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      print_help();
      return 0;
    }
    if (arg == "--list") {
      for (const auto& bench : kivo::bench::registry())
        std::printf("%s: %s\n", bench.name.c_str(), bench.description.c_str());
      return 0;
    }
    names.emplace_back(arg);
  }
  for (const std::string& name : names) {
    bool known = false;
    for (const auto& bench : kivo::bench::registry()) known = known || bench.name == name;
    if (!known) {
      std::fprintf(stderr, "kivo-bench: unknown path '%s' (see --list)\n", name.c_str());
      return 2;
    }
  }
  bool all_ok = true;
  for (const auto& bench : kivo::bench::registry()) {
    if (!selected(names, bench.name)) continue;
    const kivo::bench::Result result = bench.run();
    std::printf("%s\n", kivo::bench::format_result(bench.name, result).c_str());
    std::fflush(stdout);
    all_ok = all_ok && result.ok();
  }
  return all_ok ? 0 : 1;
}
