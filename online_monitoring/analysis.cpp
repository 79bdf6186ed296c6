// Derived quantities: per-event rates, normalised distributions and hit maps,
// unit-area beam-position differences and the fitted beam position of every
// stave; and the operator's status summary built from them.
#include <cmath>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "TAxis.h"
#include "TGraphAsymmErrors.h"
#include "TH1D.h"
#include "TH1F.h"
#include "TH2F.h"
#include "beam_profile.h"
#include "derivation.h"
#include "hit_maps.h"
#include "kivo.h"
#include "monitor_state.h"

namespace {

const char* const kSeparator = "==================================================";

template <class Histogram>
Histogram* clone_as(Histogram* source, const char* name) {
  return static_cast<Histogram*>(source->Clone(name));
}

// Bin b of `target` = bin b of `source` per event, with its Poisson error.
void set_per_event(TH1* source, TH1* target, int b, double nevents) {
  const float bc = source->GetBinContent(b);
  target->SetBinContent(b, bc / nevents);
  target->SetBinError(b, std::sqrt(bc) / nevents);
}

void fill_rates(const RunObjects& o, double nevents) {
  o.hhitrate_chip->Reset("");
  o.hwarnrate_chip->Reset("");
  o.herrrate_chip->Reset("");
  for (int b = 1; b <= o.hchip->GetNbinsX(); b++) {
    set_per_event(o.hchip, o.hhitrate_chip, b, nevents);
    set_per_event(o.hwarn, o.hwarnrate_chip, b, nevents);
    set_per_event(o.herr, o.herrrate_chip, b, nevents);
  }
}

void fill_hits_per_event(const RunObjects& o, int i, double nevents) {
  o.hnhit_chip_norm[i]->Reset("");
  for (int b = 1; b <= o.hnhit_chip[i]->GetNbinsX(); b++)
    set_per_event(o.hnhit_chip[i], o.hnhit_chip_norm[i], b, nevents);
}

// A fresh projection of stave `i`'s normalised map onto `axis` (of its raw
// map, which has the same title and binning), named and filled as
// ProjectionX("_px") or ProjectionY("_py") would make it: contents the raw
// map's in-range sums kept beside it, divided by the event count; statistics
// rebuilt from the bins (once, and kept: the fit reads the mean and RMS), no
// errors stored.
TH1D* make_projection(int i, const TH2F* map, const TAxis* axis, const char* suffix,
                      const std::vector<double>& sums, double nevents) {
  char name[500];
  sprintf(name, "h2d_chip_norm_%i%s", i, suffix);
  TH1D* h = new TH1D(name, map->GetTitle(), axis->GetNbins(), axis->GetXmin(), axis->GetXmax());
  double total = 0;
  for (int b = 1; b <= axis->GetNbins(); b++) {
    const double content = sums[b] / nevents;
    h->SetBinContent(b, content);
    total += content;
  }
  h->SetEntries(std::floor(total + 0.5));
  double stats[TH1::kNstat];
  h->GetStats(stats);
  h->PutStats(stats);
  return h;
}

// Fits the column and row projections of the stave's normalised map and
// stores the result as point 0 of its graph; a stave with an empty map is not
// fitted and its graph is left without a point.
void fit_beam_position(const RunObjects& o, int i, const MapSummary& raw, double nevents) {
  const TH2F* map = o.h2d_chip[i];
  TH1D* hx = make_projection(i, map, map->GetXaxis(), "_px", raw.column_sums, nevents);
  TH1D* hy = make_projection(i, map, map->GetYaxis(), "_py", raw.row_sums, nevents);
  if (hx->Integral("") > 0 && hy->Integral("") > 0) {
    double mx, rx, my, ry;
    fit_beam_profile(hx, o.fit, PullOntoAxis::yes, mx, rx);
    fit_beam_profile(hy, o.fit, PullOntoAxis::no, my, ry);
    o.gmpos_chip[i]->SetPoint(0, mx, my);
    o.gmpos_chip[i]->SetPointError(0, rx, rx, ry, ry);
  } else {
    o.gmpos_chip[i]->Set(0);
  }
  delete hx;
  delete hy;
}

void scale_to_unit_area(TH1F* h) {
  const float integral = h->Integral("");
  if (integral > 0) h->Scale(1.0 / integral, "");
}

void normalise_differences(const RunObjects& o, int i) {
  o.hdiffrow_chip_norm[i]->Reset("");
  o.hdiffcol_chip_norm[i]->Reset("");
  for (int b = 1; b <= o.hdiffrow_chip[i]->GetNbinsX(); b++) {
    o.hdiffrow_chip_norm[i]->SetBinContent(b, o.hdiffrow_chip[i]->GetBinContent(b));
    o.hdiffcol_chip_norm[i]->SetBinContent(b, o.hdiffcol_chip[i]->GetBinContent(b));
  }
  scale_to_unit_area(o.hdiffrow_chip_norm[i]);
  scale_to_unit_area(o.hdiffcol_chip_norm[i]);
}

// The monitor's own objects.
RunObjects monitor_objects() {
  RunObjects o;
  o.hnevnt = hnevnt;
  o.hchip = hchip;
  o.hwarn = hwarn;
  o.herr = herr;
  o.hhitrate_chip = hhitrate_chip;
  o.hwarnrate_chip = hwarnrate_chip;
  o.herrrate_chip = herrrate_chip;
  for (int i = 0; i < NSTAVE; i++) {
    o.hnhit_chip[i] = hnhit_chip[i];
    o.hdiffrow_chip[i] = hdiffrow_chip[i];
    o.hdiffcol_chip[i] = hdiffcol_chip[i];
    o.h2d_chip[i] = h2d_chip[i];
    o.hnhit_chip_norm[i] = hnhit_chip_norm[i];
    o.hdiffrow_chip_norm[i] = hdiffrow_chip_norm[i];
    o.hdiffcol_chip_norm[i] = hdiffcol_chip_norm[i];
    o.h2d_chip_norm[i] = h2d_chip_norm[i];
    o.gmpos_chip[i] = gmpos_chip[i];
  }
  o.fit = fg;
  return o;
}

void print_fitted_position(int i) {
  if (gmpos_chip[i]->GetN() == 0) {
    std::cout << "== <col>: n/a" << std::endl;
    std::cout << "== <row>: n/a" << std::endl;
    return;
  }
  double mcol, mrow;
  gmpos_chip[i]->GetPoint(0, mcol, mrow);
  std::cout << "== <col>: " << mcol << std::endl;
  std::cout << "== <row>: " << mrow << std::endl;
}

// "<label>" then the peak of `h` (or n/a when it is empty) and its mean.
void print_difference(const char* label, TH1F* h) {
  std::cout << label;
  if (h->Integral("") > 0)
    std::cout << h->GetBinCenter(h->GetMaximumBin());
  else
    std::cout << "n/a";
  std::cout << " (" << h->GetMean(1) << ")" << std::endl;
}

void print_stave(int i) {
  const int bin = i + 1;
  std::cout << kSeparator << std::endl;
  std::cout << "==== Chip " << i << std::endl;
  std::cout << "== events: " << hnhit_chip[i]->Integral("") << std::endl;
  std::cout << "== Total hits: " << hchip->GetBinContent(bin) << " ("
            << hhitrate_chip->GetBinContent(bin) << ")" << std::endl;
  std::cout << "== Total Warnings: " << hwarn->GetBinContent(bin) << " ("
            << hwarnrate_chip->GetBinContent(bin) << ")" << std::endl;
  std::cout << "== Total Errors: " << herr->GetBinContent(bin) << " ("
            << herrrate_chip->GetBinContent(bin) << ")" << std::endl;
  std::cout << "== <hits/event>: " << hnhit_chip_norm[i]->GetMean(1) << std::endl;
  std::cout << "== RMS(hits/event): " << hnhit_chip_norm[i]->GetRMS(1) << std::endl;
  print_fitted_position(i);
  if (i > 0) {
    print_difference("== <dcol>: ", hdiffcol_chip_norm[i]);
    print_difference("== <drow>: ", hdiffrow_chip_norm[i]);
  }
}

// The monitor's derived objects, created (and so listed in gDirectory) stave
// by stave.
void create_derived() {
  RunObjects o = monitor_objects();
  clone_derived(o, true);
  hhitrate_chip = o.hhitrate_chip;
  hwarnrate_chip = o.hwarnrate_chip;
  herrrate_chip = o.herrrate_chip;
  for (int i = 0; i < NSTAVE; i++) {
    hnhit_chip_norm[i] = o.hnhit_chip_norm[i];
    h2d_chip_norm[i] = o.h2d_chip_norm[i];
    hdiffrow_chip_norm[i] = o.hdiffrow_chip_norm[i];
    hdiffcol_chip_norm[i] = o.hdiffcol_chip_norm[i];
  }
}

// One analysis; the normalised hit maps are made whole now when
// `whole_maps`, otherwise when first read whole.
int analyse(bool whole_maps) {
  if (!histos_booked("analysis")) return -1;
  if (!hhitrate_chip) {
    create_derived();
    start_norm_maps();
  }
  const double nevents = hnevnt->Integral("");
  if (!(nevents > 0)) return 1;
  catch_up_summaries();
  const MapSummary* summaries[NSTAVE];
  for (int i = 0; i < NSTAVE; i++) summaries[i] = &raw_summary(i);
  derive(monitor_objects(), summaries, nevents);
  record_norm_maps(nevents, whole_maps);
  return 0;
}

}  // namespace

void clone_derived(RunObjects& o, bool with_maps) {
  o.hhitrate_chip = clone_as(o.hchip, "hhitrate_chip");
  o.hwarnrate_chip = clone_as(o.hwarn, "hwarnrate_chip");
  o.herrrate_chip = clone_as(o.herr, "herrrate_chip");
  char name[500];
  for (int i = 0; i < NSTAVE; i++) {
    sprintf(name, "hnhit_chip_norm_%i", i);
    o.hnhit_chip_norm[i] = clone_as(o.hnhit_chip[i], name);
    if (with_maps) o.h2d_chip_norm[i] = clone_norm_map(o.h2d_chip[i], i);
    sprintf(name, "hdiffrow_chip_norm_%i", i);
    o.hdiffrow_chip_norm[i] = clone_as(o.hdiffrow_chip[i], name);
    sprintf(name, "hdiffcol_chip_norm_%i", i);
    o.hdiffcol_chip_norm[i] = clone_as(o.hdiffcol_chip[i], name);
  }
}

TH2F* clone_norm_map(TH2F* raw, int stave) {
  char name[500];
  sprintf(name, "h2d_chip_norm_%i", stave);
  return clone_as(raw, name);
}

void derive(const RunObjects& o, const MapSummary* const (&summaries)[NSTAVE], double nevents) {
  fill_rates(o, nevents);
  for (int i = 0; i < NSTAVE; i++) {
    fill_hits_per_event(o, i, nevents);
    fit_beam_position(o, i, *summaries[i], nevents);
    normalise_differences(o, i);
  }
}

int analysis() { return analyse(true); }

int refresh_analysis() { return analyse(false); }

int print_status() {
  if (!histos_booked("print_status")) return -1;
  analysis();
  std::cout << kSeparator << std::endl << kSeparator << std::endl;
  std::cout << "== Number of events: " << hnevnt->Integral("") << std::endl;
  for (int i = 0; i < NSTAVE; i++)
    if (hchip->GetBinContent(i + 1) > 0) print_stave(i);
  std::cout << kSeparator << std::endl << kSeparator << std::endl;
  return 0;
}
