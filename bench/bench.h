// kivo-bench harness. Each subsystem adds its hot paths in its own file
// bench/<subsystem>.cpp with KIVO_BENCH; every path measures itself and, in the
// same run, the machine's own limit for the same work, and returns both.
#ifndef KIVO_BENCH_BENCH_H
#define KIVO_BENCH_BENCH_H

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace kivo::bench {

struct Measurement {
  double value = 0;
  std::string unit;  // e.g. "MB/s", "events/s", "ms"
};

// A rate bar passes when path/limit >= bar; a time bar when path/limit <= bar.
enum class BarKind { at_least, at_most };

struct Result {
  Measurement path;
  std::string limit_what;  // what the limit measures, e.g. "read and sum the file"
  Measurement limit;
  BarKind kind = BarKind::at_least;
  double bar = 0.5;

  double ratio() const { return limit.value > 0 ? path.value / limit.value : 0; }
  bool ok() const { return kind == BarKind::at_least ? ratio() >= bar : ratio() <= bar; }
};

// Rate results (higher is better) and time results (lower is better).
Result rate_result(double path_rate, std::string limit_what, double limit_rate, std::string unit,
                   double min_ratio);
Result time_result(double path_seconds, std::string limit_what, double limit_seconds,
                   double max_ratio);
// A quantity of `unit` where less is better, such as a size or a memory.
Result amount_result(double path_amount, std::string limit_what, double limit_amount, std::string unit,
                     double max_ratio);

using BenchFunction = std::function<Result()>;

struct Bench {
  std::string name;
  std::string description;
  BenchFunction run;
};

// Every registered path, in registration order.
std::vector<Bench>& registry();

struct Registrar {
  Registrar(std::string name, std::string description, BenchFunction run);
};

// The best (shortest) of `runs` timings of `work`, in seconds, by steady_clock.
template <class Work>
double best_seconds(int runs, Work&& work) {
  double best = 0;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    work();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    if (i == 0 || elapsed.count() < best) best = elapsed.count();
  }
  return best;
}

// Best times of `path` and `limit` over `runs` runs each, taken in turns so
// that both see the same load of a shared machine.
template <class Path, class Limit>
void alternate_best_seconds(int runs, Path&& path, Limit&& limit, double& path_seconds,
                            double& limit_seconds) {
  for (int i = 0; i < runs; i++) {
    const double path_run = best_seconds(1, path);
    const double limit_run = best_seconds(1, limit);
    if (i == 0 || path_run < path_seconds) path_seconds = path_run;
    if (i == 0 || limit_run < limit_seconds) limit_seconds = limit_run;
  }
}

// The line printed for one path:
// "<path>: <value> <unit>; limit (<what>): <value> <unit>; ratio <r> (bar: >= 0.5) ok|MISS"
std::string format_result(const std::string& name, const Result& result);

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

// Keeps the compiler from dropping a computation whose result is otherwise unused.
template <class T>
void keep(const T& value) {
  asm volatile("" : : "g"(&value) : "memory");
}

}  // namespace kivo::bench

#define KIVO_BENCH_CONCAT_INNER(a, b) a##b
#define KIVO_BENCH_CONCAT(a, b) KIVO_BENCH_CONCAT_INNER(a, b)
// KIVO_BENCH("name", "what it measures", function returning kivo::bench::Result)
#define KIVO_BENCH(name, description, function) \
  static const ::kivo::bench::Registrar KIVO_BENCH_CONCAT(kivo_bench_registrar_, __LINE__)(name, description, function)

#endif
