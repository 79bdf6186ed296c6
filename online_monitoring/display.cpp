// The monitoring canvas "KIVO online monitoring". The first OM call builds the
// canvas, its nine pads and labels and draws every histogram and graph into its
// pad once; every call (the first included) rewrites the numeric labels and
// repaints. The pads hold the very objects that analysis refills in place, so
// a refresh never creates or draws anything.
#include "derivation.h"
#include "kivo.h"
#include "monitor_state.h"

#include "TAxis.h"
#include "TCanvas.h"
#include "TGraphAsymmErrors.h"
#include "TH1F.h"
#include "TH2F.h"
#include "TLatex.h"
#include "TPad.h"
#include "TStyle.h"

#include <cstdio>

TCanvas* com = nullptr;
TPad* phitrate = nullptr;
TPad* pnhit = nullptr;
TPad* pmean = nullptr;
TPad* pdiffcol = nullptr;
TPad* pdiffrow = nullptr;
TPad* p2d[NSTAVE] = {nullptr, nullptr, nullptr, nullptr};
TLatex* lnevents = nullptr;
TLatex* lnhitmean[NSTAVE] = {nullptr, nullptr, nullptr, nullptr};
TLatex* ldiffcol[NSTAVE] = {nullptr, nullptr, nullptr, nullptr};
TLatex* ldiffrow[NSTAVE] = {nullptr, nullptr, nullptr, nullptr};

// Axis frame of the beam-position pad: stave-wide columns across, displayed rows
// up, so that each stave's fitted point and its widths land inside the pad.
// haxis_2d (rows on both axes up to 511.5) cannot serve: the points reach
// column 9215. A one-bin histogram is enough, the axes do not depend on the
// binning; it is drawn with "axis" so that its empty content (a line at row 0)
// is not painted over the frame.
static TH1F* haxis_mean = nullptr;

// Staves 0 to 2 have a difference histogram and a peak label; the reference
// stave 3 has neither.
static constexpr int NDIFFSTAVE = 3;

static double events_counted() { return hnevnt->Integral(""); }

static TPad* make_pad(const char* name, const char* title, double xlow, double ylow,
                      double xup, double yup, float left, float right, float bottom,
                      float top) {
  com->cd(0);
  TPad* pad = new TPad(name, title, xlow, ylow, xup, yup);
  pad->SetMargin(left, right, bottom, top);
  pad->SetTicks(1, 1);
  pad->Draw("");
  return pad;
}

static void build_pads() {
  phitrate = make_pad("phitrate", "hit rate", 0, 0.45, 0.29, 0.90, 0.15, 0.05, 0.15, 0.05);
  pnhit = make_pad("pnhit", "n hit", 0.29, 0.60, 0.50, 0.90, 0.12, 0.02, 0.15, 0.05);
  pmean = make_pad("pmean", "mean", 0, 0, 0.29, 0.45, 0.15, 0.05, 0.15, 0.10);
  pdiffcol = make_pad("pdiffcol", "pdiffcol", 0.29, 0.30, 0.50, 0.60, 0.12, 0.02, 0.12, 0.10);
  pdiffrow = make_pad("pdiffrow", "pdiffrow", 0.29, 0, 0.50, 0.30, 0.12, 0.02, 0.12, 0.10);
  char name[500];
  for (int i = 0; i < NSTAVE; i++) {
    std::snprintf(name, sizeof name, "p2d_%i", i);
    p2d[i] = make_pad(name, name, 0.50, 0.90 - 0.22 * (i + 1), 1.00, 0.90 - 0.22 * i, 0.15,
                      0.15, 0.15, 0.15);
  }
}

static void build_event_label() {
  com->cd(0);
  char name[500];
  std::snprintf(name, sizeof name, "Number of Events: %.0f", events_counted());
  lnevents = new TLatex(0.5, 0.95, name);
  lnevents->SetNDC();
  lnevents->SetTextAlign(22);
  lnevents->Draw("");
}

static void draw_rates() {
  phitrate->cd();
  gPad->SetLogy(1);
  haxis_chip->GetYaxis()->SetRangeUser(1e-5, 100);
  haxis_chip->Draw("");
  hhitrate_chip->Draw("hist e same");
  hwarnrate_chip->Draw("hist e same");
  herrrate_chip->Draw("hist e same");
}

// A label in NDC of the current pad, in the stave's colour, at its creation
// position; the refresh moves it.
static TLatex* draw_stave_label(int i, double x, double y, const char* text) {
  TLatex* label = new TLatex(x, y, text);
  label->SetNDC();
  label->SetTextColor(chipColor[i]);
  label->Draw("same");
  return label;
}

static void draw_hits_per_event() {
  pnhit->cd();
  gPad->SetLogy(1);
  haxis_nhit->GetYaxis()->SetRangeUser(1e-4, 1);
  haxis_nhit->DrawCopy("");
  char name[500];
  for (int i = 0; i < NSTAVE; i++) {
    hnhit_chip_norm[i]->Draw("hist e same");
    std::snprintf(name, sizeof name, "chip %i = %.2f", i, hnhit_chip_norm[i]->GetMean(1));
    lnhitmean[i] = draw_stave_label(i, 0.8, 0.85 - 0.05 * i, name);
  }
}

static void draw_beam_position(TLatex& lt) {
  pmean->cd();
  gPad->Update();
  haxis_mean = new TH1F("haxis_mean", ";col;row", 1, -0.5, 9215.5);
  haxis_mean->SetMinimum(-0.5);
  haxis_mean->SetMaximum(511.5);
  haxis_mean->Draw("axis");
  for (int i = 0; i < NSTAVE; i++) gmpos_chip[i]->Draw("P");
  lt.DrawLatex(0.5, 0.96, "Beam position & profile");
}

// One difference pad: the shared frame, then per stave its distribution and
// peak label, then the pad title.
static void draw_differences(TPad* pad, TH1F* const* hists, TLatex** labels, const char* title,
                             TLatex& lt) {
  pad->cd();
  gPad->SetLogy(1);
  haxis_diff->GetYaxis()->SetRangeUser(1e-4, 1);
  haxis_diff->Draw("");
  char name[500];
  for (int i = 0; i < NDIFFSTAVE; i++) {
    hists[i]->Draw("hist same");
    std::snprintf(name, sizeof name, "chip %i = %+.1f", i, hists[i]->GetMean(1));
    labels[i] = draw_stave_label(i, 0.8, 0.9 - 0.05 * i, name);
  }
  lt.DrawLatex(0.5, 0.96, title);
}

void set_norm_map_range(TH2F* map) { map->GetZaxis()->SetRangeUser(1e-6, 1); }

// Each map is the first object of its pad, so ROOT ignores "same" and draws
// the map on its own axes with its palette.
static void draw_hit_maps(TLatex& lt) {
  char name[500];
  for (int i = 0; i < NSTAVE; i++) {
    p2d[i]->cd();
    gPad->SetLogz(1);
    gPad->Update();
    h2d_chip_norm[i]->Draw("colz same");
    set_norm_map_range(h2d_chip_norm[i]);
    std::snprintf(name, sizeof name, "Chip %i", i);
    lt.SetTextColor(chipColor[i]);
    lt.DrawLatex(0.5, 0.96, name);
  }
}

static void build_display() {
  com = new TCanvas("com", "KIVO online monitoring", 1600, 800);
  com->SetMargin(0, 0, 0, 0);
  build_pads();
  build_event_label();
  TLatex lt;
  lt.SetNDC();
  lt.SetTextAlign(22);
  draw_rates();
  draw_hits_per_event();
  draw_beam_position(lt);
  draw_differences(pdiffcol, hdiffcol_chip_norm, ldiffcol, "Col", lt);
  draw_differences(pdiffrow, hdiffrow_chip_norm, ldiffrow, "Row", lt);
  draw_hit_maps(lt);
}

// "chip i = <peak>" at the centre of the highest bin (the lowest-numbered one
// among equals), or the empty text when the distribution holds nothing.
static void set_peak_label(TLatex* label, int i, TH1F* hist) {
  char name[500] = "";
  if (hist->Integral("") > 0) {
    double peak = hist->GetBinCenter(hist->GetMaximumBin());
    std::snprintf(name, sizeof name, "chip %i = %+.0f", i, peak);
  }
  label->SetText(0.75, 0.83 - 0.05 * i, name);
}

static void refresh_labels() {
  com->cd(0);
  char name[500];
  std::snprintf(name, sizeof name, "Run %i, Number of Events: %.0f", kivo_run, events_counted());
  lnevents->SetText(0.5, 0.95, name);
  for (int i = 0; i < NSTAVE; i++) {
    std::snprintf(name, sizeof name, "chip %i = %.2f", i, hnhit_chip_norm[i]->GetMean(1));
    lnhitmean[i]->SetText(0.75, 0.88 - 0.05 * i, name);
  }
  for (int i = 0; i < NDIFFSTAVE; i++) {
    set_peak_label(ldiffcol[i], i, hdiffcol_chip_norm[i]);
    set_peak_label(ldiffrow[i], i, hdiffrow_chip_norm[i]);
  }
}

static void repaint() {
  com->Modified(1);
  for (TPad* pad : {phitrate, pnhit, pmean, pdiffcol, pdiffrow}) pad->Modified(1);
  for (TPad* pad : p2d) pad->Modified(1);
  com->Update();
}

int OM() {
  if (!histos_booked("OM")) return -1;
  static bool initialized = false;
  refresh_analysis();
  gStyle->SetOptStat(0);
  if (!initialized) {
    build_display();
    initialized = true;
  }
  refresh_labels();
  repaint();
  return 0;
}
