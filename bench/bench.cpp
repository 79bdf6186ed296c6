#include "bench.h"

#include <cstdio>
#include <utility>

namespace kivo::bench {
namespace {

std::string format_value(double value) {
  char text[32];
  std::snprintf(text, sizeof text, value >= 100 ? "%.0f" : value >= 1 ? "%.2f" : "%.4g", value);
  return text;
}

}  // namespace

Result rate_result(double path_rate, std::string limit_what, double limit_rate, std::string unit,
                   double min_ratio) {
  return {{path_rate, unit}, std::move(limit_what), {limit_rate, unit}, BarKind::at_least, min_ratio};
}

Result time_result(double path_seconds, std::string limit_what, double limit_seconds,
                   double max_ratio) {
  return {{path_seconds * 1e3, "ms"}, std::move(limit_what), {limit_seconds * 1e3, "ms"},
          BarKind::at_most, max_ratio};
}

Result amount_result(double path_amount, std::string limit_what, double limit_amount, std::string unit,
                     double max_ratio) {
  return {{path_amount, unit}, std::move(limit_what), {limit_amount, unit}, BarKind::at_most, max_ratio};
}

std::vector<Bench>& registry() {
  static std::vector<Bench> benches;
  return benches;
}

Registrar::Registrar(std::string name, std::string description, BenchFunction run) {
  registry().push_back({std::move(name), std::move(description), std::move(run)});
}

std::string format_result(const std::string& name, const Result& result) {
  char ratio[32];
  std::snprintf(ratio, sizeof ratio, "%.2f", result.ratio());
  return name + ": " + format_value(result.path.value) + " " + result.path.unit + "; limit (" +
         result.limit_what + "): " + format_value(result.limit.value) + " " + result.limit.unit +
         "; ratio " + ratio + " (bar: " + (result.kind == BarKind::at_least ? ">= " : "<= ") +
         format_value(result.bar) + ") " + (result.ok() ? "ok" : "MISS");
}

}  // namespace kivo::bench
