// Monitor state: the global counters and settings, the handles of the raw and
// derived objects (the display defines its own), and the booking and resetting of the raw histograms.
#include <cstdio>
#include <iostream>

#include "TF1.h"
#include "TGraphAsymmErrors.h"
#include "TH1D.h"
#include "TH1F.h"
#include "TH2F.h"
#include "busy_events.h"
#include "correlation.h"
#include "hit_maps.h"
#include "hit_sink.h"
#include "kivo.h"
#include "monitor_state.h"
#include "recent_maps.h"

int init_done = 0;
int kivo_evnts = 0;
int kivo_verbose = 0;
int kivo_refresh = -1;
int kivo_run = 0;

TH1D* hnevnt = nullptr;
TH1D* hchip = nullptr;
TH1D* hwarn = nullptr;
TH1D* herr = nullptr;
TH1F* hnhit_chip[NSTAVE] = {};
TH1F* hhittime_chip[NSTAVE] = {};
TH2F* h2d_chip[NSTAVE] = {};
TGraphAsymmErrors* gmpos_chip[NSTAVE] = {};
TH1F* hdiffrow_chip[NSTAVE] = {};
TH1F* hdiffcol_chip[NSTAVE] = {};
TH1F* haxis_chip = nullptr;
TH1F* haxis_nhit = nullptr;
TH1F* haxis_2d = nullptr;
TH1F* haxis_diff = nullptr;

// The one Gaussian for every beam-profile fit; exists from library load on.
TF1* fg = new TF1("fg", "gaus", 0, 1024);

TH1D* hhitrate_chip = nullptr;
TH1D* hwarnrate_chip = nullptr;
TH1D* herrrate_chip = nullptr;
TH1F* hnhit_chip_norm[NSTAVE] = {};
TH2F* h2d_chip_norm[NSTAVE] = {};
TH1F* hdiffrow_chip_norm[NSTAVE] = {};
TH1F* hdiffcol_chip_norm[NSTAVE] = {};

bool histos_booked(const char* command) {
  if (init_done) return true;
  std::cout << command << ": histograms are not booked (pinit has not run)" << std::endl;
  return false;
}

namespace {

template <class Histogram = TH1F>
Histogram* book_line_histo(const char* name, const char* title, int nbins, double xlow,
                           double xup, int color) {
  Histogram* h = new Histogram(name, title, nbins, xlow, xup);
  h->SetLineWidth(2);
  h->SetLineColor(color);
  return h;
}

TH1F* book_frame(const char* name, const char* title, int nbins, double xlow, double xup,
                 double minimum, double maximum) {
  TH1F* h = new TH1F(name, title, nbins, xlow, xup);
  h->SetMinimum(minimum);
  h->SetMaximum(maximum);
  return h;
}

void book_stave(int i) {
  char name[500];
  sprintf(name, "hnhit_chip_%i", i);
  hnhit_chip[i] = book_line_histo(name, ";N pixels / event; events", 201, -0.5, 200.5,
                                  chipColor[i]);
  sprintf(name, "hhittime_chip_%i", i);
  hhittime_chip[i] = book_line_histo(name, ";N pixels / 100 events; event number", 100, 0,
                                     10000, chipColor[i]);
  sprintf(name, "h2d_chip_%i", i);
  h2d_chip[i] = new TH2F(name, ";col;row;hits", 9216, -0.5, 9215.5, 512, -0.5, 511.5);
  sprintf(name, "gmpos_chip_%i", i);
  gmpos_chip[i] = new TGraphAsymmErrors();
  gmpos_chip[i]->SetName(name);
  gmpos_chip[i]->SetMarkerStyle(chipMarker[i]);
  gmpos_chip[i]->SetMarkerColor(chipColor[i]);
  gmpos_chip[i]->SetLineColor(chipColor[i]);
  sprintf(name, "hdiffrow_chip_%i", i);
  hdiffrow_chip[i] = book_line_histo(name, ";row index diff", 1023, -511.5, 511.5,
                                     chipColor[i]);
  sprintf(name, "hdiffcol_chip_%i", i);
  hdiffcol_chip[i] = book_line_histo(name, ";col index diff", 1023, -511.5, 511.5,
                                     chipColor[i]);
}

}  // namespace

int pinit() {
  if (init_done) return 1;
  init_done = 1;
  kivo_evnts = 0;
  hnevnt = new TH1D("hnevent", "", 1, -0.5, 0.5);
  hchip = book_line_histo<TH1D>("hchip", ";chip index;N pixels", 4, -0.5, 3.5, 600);
  hwarn = book_line_histo<TH1D>("hwarn", ";chip index; warnings", 4, -0.5, 3.5, 402);
  herr = book_line_histo<TH1D>("herr", ";chip index; errors", 4, -0.5, 3.5, 632);
  for (int i = 0; i < NSTAVE; i++) book_stave(i);
  haxis_chip = book_frame("haxis_chip", ";chip index; N pixels / event", 4, -0.5, 3.5, 0, 500);
  haxis_nhit = book_frame("haxis_nhit", ";N pixels / event; per event", 51, -0.5, 50.5, 0, 1);
  haxis_2d = book_frame("haxis_2d", ";row;col", 512, -0.5, 511.5, -0.5, 511.5);
  haxis_diff = book_frame("haxis_diff", ";mean idx diff", 1023, -511.5, 511.5, 0, 1);
  clear_raw_summaries();
  clear_correlations();
  clear_busy_events();
  restart_recent_windows();
  return 0;
}

void reset_histos() {
  if (!histos_booked("reset_histos")) return;
  keep_last_analysis_maps();
  hnevnt->Reset("");
  hchip->Reset("");
  hwarn->Reset("");
  herr->Reset("");
  for (int i = 0; i < NSTAVE; i++) {
    hnhit_chip[i]->Reset("");
    h2d_chip[i]->Reset("");
    hdiffrow_chip[i]->Reset("");
    hdiffcol_chip[i]->Reset("");
  }
  clear_raw_summaries();
  clear_correlations();
  clear_busy_events();
  restart_recent_windows();
  tell_sink_reset();
}
