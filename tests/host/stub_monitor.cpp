// A stand-in monitor for the host tests: the entry points and the nine
// commands of the monitor header, each printing one line that names the call,
// so the order in which the host calls them shows on standard output; the
// other symbols of the host's contract hold nothing.
#include <cstdio>

#include "Event.h"
#include "kivo.h"
#include "monitor_plugin.h"

int stub_verbose = 0;
int stub_events = 0;

int kivo_run = 0;
int kivo_evnts = 0;
int kivo_refresh = -1;
TH1D* hnevnt = nullptr;
TH1D* hchip = nullptr;
TH1F* hnhit_chip[kMonitorStaves] = {};
TH1F* hdiffcol_chip[kMonitorStaves] = {};
TH1F* hdiffrow_chip[kMonitorStaves] = {};
TH2F* h2d_chip[kMonitorStaves] = {};
TH2F* h2d_chip_norm[kMonitorStaves] = {};
TGraphAsymmErrors* gmpos_chip[kMonitorStaves] = {};
TCanvas* com = nullptr;

int kivo_norm_overview(int, float*) { return -1; }
int kivo_norm_region(int, int, int, int, int, float*) { return -1; }
void kivo_materialise_maps() {}
double kivo_chip_hits(int, int) { return -1; }
int kivo_hot_cells(int, double, double, int*, int*, int, int*) { return -1; }
int kivo_hit_sums(int, double*, double*) { return -1; }
int kivo_set_recent_window(int) { return 0; }
int kivo_recent_window(KivoRecentWindow*) { return -1; }
int kivo_recent_blocks(int, float*) { return -1; }
KivoRunCopy* kivo_copy_run() { return nullptr; }
int kivo_derive_run(KivoRunCopy*, int (*)(const TObject*, void*), void*) { return -1; }
void kivo_free_run(KivoRunCopy*) {}
int kivo_set_correlation_mask(int, const int*, const int*, int) { return -1; }
int kivo_lag_differences(int, int, int, int, std::uint32_t*) { return -1; }
int kivo_set_busy_rule(double, double, double) { return -1; }
int kivo_busy_events(int, double*, double*, double*) { return -1; }
int kivo_set_hit_sink(const KivoHitSink*) { return 0; }

int pinit() {
  std::printf("pinit\n");
  return 0;
}

int process_event(Event* e) {
  ++stub_events;
  if (stub_verbose > 2) {
    // Flushed so that a test can see which events are in before it acts.
    std::printf("event type %d run %d\n", e->getEvtType(), e->getRunNumber());
    std::fflush(stdout);
  }
  return 0;
}

int process_histos(float thresh) {
  std::printf("process_histos %g\n", thresh);
  return 7;
}

// A negative threshold stands for a mask file that cannot be written: the
// monitor answers -1 then.
int mask_pixels(float thresh) {
  std::printf("mask_pixels %g\n", thresh);
  return thresh < 0 ? -1 : 8;
}

int analysis() {
  std::printf("analysis\n");
  return 0;
}

int OM() {
  std::printf("OM\n");
  return 0;
}

int print_status() {
  std::printf("print_status after %d events\n", stub_events);
  return 0;
}

void reset_histos() { std::printf("reset_histos\n"); }

void set_verbose(int v) {
  std::printf("set_verbose %d\n", v);
  stub_verbose = v;
}

void set_refresh(int r) { std::printf("set_refresh %d\n", r); }
