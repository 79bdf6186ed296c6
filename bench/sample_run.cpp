#include "sample_run.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "Simulator.h"
#include "StreamWriter.h"

namespace kivo::bench {

SampleRun simulate_run(std::uint32_t events, double noise) {
  kivo::sim::SimConfig config;
  config.events = events;
  if (noise >= 0) config.noise = noise;
  kivo::sim::Simulator simulator(config);
  SampleRun run{simulator.begin_run(0), {}};
  run.data.reserve(events);
  for (std::uint32_t sequence = 1; sequence <= events; sequence++)
    run.data.push_back(simulator.data_event(sequence));
  return run;
}

std::string write_temporary_stream(const SampleRun& run) {
  char path[] = "/tmp/kivo-bench-XXXXXX";
  const int fd = ::mkstemp(path);
  if (fd < 0) {
    std::perror("kivo-bench: temporary file");
    return {};
  }
  ::close(fd);
  std::string error;
  auto writer = eventio::StreamWriter::open(path, error);
  bool ok = writer && writer->write(run.begin);
  for (std::size_t i = 0; ok && i < run.data.size(); i++) ok = writer->write(run.data[i]);
  if (!writer || !writer->close(error) || !ok) {
    std::fprintf(stderr, "kivo-bench: cannot write %s: %s\n", path, error.c_str());
    ::unlink(path);
    return {};
  }
  return path;
}

}  // namespace kivo::bench
