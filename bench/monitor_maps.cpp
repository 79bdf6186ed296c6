#include "monitor_maps.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <string>

#include "EventRecord.h"
#include "TH1D.h"
#include "TH2F.h"
#include "bench.h"
#include "event_limit.h"
#include "kivo.h"
#include "monitor_state.h"
#include "monitor_plugin.h"
#include "sample_run.h"

namespace kivo::bench {

void start_run() {
  reset_histos();
  kivo_evnts = 0;
}

void fill_maps() {
  pinit();
  start_run();
  for (int s = 0; s < NSTAVE; s++) {
    float* cells = h2d_chip[s]->GetArray();
    for (int y = 1; y <= 512; y++) {
      const double dy = (y - 257 - 8 * s) / 60.0;
      for (int x = 1; x <= 9216; x++) {
        const double dx = (x - 4609 - 40 * s) / 300.0;
        cells[y * kMapColumns + x] = std::floor(1 + 200 * std::exp(-0.5 * (dx * dx + dy * dy)));
      }
    }
    h2d_chip[s]->SetEntries(9216.0 * 512);
  }
  hnevnt->SetBinContent(1, 1000);
}

void process_sample_run(std::uint32_t events) {
  pinit();
  start_run();
  const auto records = simulate_run(events).data;
  silently([&] {
    for (const auto& record : records) process_event(eventio::make_event(record).get());
    OM();
  });
}

namespace {

constexpr double kAllowedResidentMegabytes = 250;

double resident_megabytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024;
  return 0;
}

}  // namespace

double child_resident_megabytes(const std::function<void()>& work) {
  int channel[2];
  if (pipe(channel) != 0) return 0;
  const pid_t child = fork();
  if (child == 0) {
    close(channel[0]);
    work();
    const double megabytes = resident_megabytes();
    if (write(channel[1], &megabytes, sizeof megabytes) != sizeof megabytes) _exit(1);
    _exit(0);
  }
  close(channel[1]);
  double megabytes = 0;
  if (read(channel[0], &megabytes, sizeof megabytes) != sizeof megabytes) megabytes = 0;
  close(channel[0]);
  waitpid(child, nullptr, 0);
  return megabytes;
}

Result memory_result(double megabytes) {
  return amount_result(megabytes, "allowed resident memory", kAllowedResidentMegabytes, "MB", 1.0);
}

}  // namespace kivo::bench
