// The figures of this process that Prometheus's standard process metrics
// carry, read from the kernel (/proc, getrusage, getrlimit) at each scrape.
#ifndef KIVO_HOST_WEB_PROCESS_FIGURES_H
#define KIVO_HOST_WEB_PROCESS_FIGURES_H

#include <optional>

namespace kivo::web {

// Each figure is absent when the kernel does not tell it.
struct ProcessFigures {
  std::optional<double> cpu_seconds;     // user and system
  std::optional<double> resident_bytes;
  std::optional<double> virtual_bytes;
  std::optional<double> open_fds;
  std::optional<double> max_fds;         // the soft limit
};

ProcessFigures read_process_figures();

// When this process started, in seconds since 1970.
std::optional<double> process_start_time();

}  // namespace kivo::web

#endif
