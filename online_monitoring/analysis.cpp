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
#include "hit_maps.h"
#include "kivo.h"
#include "monitor_state.h"

namespace {

const char* const kSeparator = "==================================================";

template <class Histogram>
Histogram* clone_as(Histogram* source, const char* name) {
  return static_cast<Histogram*>(source->Clone(name));
}

void create_derived() {
  char name[500];
  hhitrate_chip = clone_as(hchip, "hhitrate_chip");
  hwarnrate_chip = clone_as(hwarn, "hwarnrate_chip");
  herrrate_chip = clone_as(herr, "herrrate_chip");
  for (int i = 0; i < NSTAVE; i++) {
    sprintf(name, "hnhit_chip_norm_%i", i);
    hnhit_chip_norm[i] = clone_as(hnhit_chip[i], name);
    sprintf(name, "h2d_chip_norm_%i", i);
    h2d_chip_norm[i] = static_cast<TH2F*>(h2d_chip[i]->Clone(name));
    sprintf(name, "hdiffrow_chip_norm_%i", i);
    hdiffrow_chip_norm[i] = clone_as(hdiffrow_chip[i], name);
    sprintf(name, "hdiffcol_chip_norm_%i", i);
    hdiffcol_chip_norm[i] = clone_as(hdiffcol_chip[i], name);
  }
}

// Bin b of `target` = bin b of `source` per event, with its Poisson error.
void set_per_event(TH1* source, TH1* target, int b, double nevents) {
  const float bc = source->GetBinContent(b);
  target->SetBinContent(b, bc / nevents);
  target->SetBinError(b, std::sqrt(bc) / nevents);
}

void fill_rates(double nevents) {
  hhitrate_chip->Reset("");
  hwarnrate_chip->Reset("");
  herrrate_chip->Reset("");
  for (int b = 1; b <= hchip->GetNbinsX(); b++) {
    set_per_event(hchip, hhitrate_chip, b, nevents);
    set_per_event(hwarn, hwarnrate_chip, b, nevents);
    set_per_event(herr, herrrate_chip, b, nevents);
  }
}

void fill_hits_per_event(int i, double nevents) {
  hnhit_chip_norm[i]->Reset("");
  for (int b = 1; b <= hnhit_chip[i]->GetNbinsX(); b++)
    set_per_event(hnhit_chip[i], hnhit_chip_norm[i], b, nevents);
}

// A fresh projection of the normalised map onto `axis`, named and filled as
// ProjectionX("_px") or ProjectionY("_py") would make it: contents the raw
// map's in-range sums kept beside it, divided by the event count; statistics
// rebuilt from the bins (once, and kept: the fit reads the mean and RMS), no
// errors stored.
TH1D* make_projection(TH2F* map, const TAxis* axis, const char* suffix,
                      const std::vector<double>& sums, double nevents) {
  const std::string name = std::string(map->GetName()) + suffix;
  TH1D* h = new TH1D(name.c_str(), map->GetTitle(), axis->GetNbins(), axis->GetXmin(),
                     axis->GetXmax());
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
void fit_beam_position(int i, const MapSummary& raw, double nevents) {
  TH2F* map = h2d_chip_norm[i];
  TH1D* hx = make_projection(map, map->GetXaxis(), "_px", raw.column_sums, nevents);
  TH1D* hy = make_projection(map, map->GetYaxis(), "_py", raw.row_sums, nevents);
  if (hx->Integral("") > 0 && hy->Integral("") > 0) {
    double mx, rx, my, ry;
    fit_beam_profile(hx, PullOntoAxis::yes, mx, rx);
    fit_beam_profile(hy, PullOntoAxis::no, my, ry);
    gmpos_chip[i]->SetPoint(0, mx, my);
    gmpos_chip[i]->SetPointError(0, rx, rx, ry, ry);
  } else {
    gmpos_chip[i]->Set(0);
  }
  delete hx;
  delete hy;
}

void scale_to_unit_area(TH1F* h) {
  const float integral = h->Integral("");
  if (integral > 0) h->Scale(1.0 / integral, "");
}

void normalise_differences(int i) {
  hdiffrow_chip_norm[i]->Reset("");
  hdiffcol_chip_norm[i]->Reset("");
  for (int b = 1; b <= hdiffrow_chip[i]->GetNbinsX(); b++) {
    hdiffrow_chip_norm[i]->SetBinContent(b, hdiffrow_chip[i]->GetBinContent(b));
    hdiffcol_chip_norm[i]->SetBinContent(b, hdiffcol_chip[i]->GetBinContent(b));
  }
  scale_to_unit_area(hdiffrow_chip_norm[i]);
  scale_to_unit_area(hdiffcol_chip_norm[i]);
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
  fill_rates(nevents);
  catch_up_summaries();
  for (int i = 0; i < NSTAVE; i++) {
    fill_hits_per_event(i, nevents);
    fit_beam_position(i, raw_summary(i), nevents);
    normalise_differences(i);
  }
  record_norm_maps(nevents, whole_maps);
  return 0;
}

}  // namespace

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
