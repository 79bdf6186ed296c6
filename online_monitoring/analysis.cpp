// Derived quantities: per-event rates, normalised distributions and hit maps,
// unit-area beam-position differences and the fitted beam position of every
// stave; and the operator's status summary built from them.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "TAxis.h"
#include "TF1.h"
#include "TGraphAsymmErrors.h"
#include "TH1D.h"
#include "TH1F.h"
#include "TH2F.h"
#include "hit_maps.h"
#include "kivo.h"
#include "monitor_state.h"

namespace {

// Half-width of the refit window, in fitted sigmas.
constexpr double kWindowSigmas = 2.5;

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
// rebuilt from the bins, no errors stored.
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
  return h;
}

// Mean and RMS of the bins of `h` whose centres lie in [lo, hi]; false when
// that part of `h` holds nothing.
bool window_moments(TH1D* h, double lo, double hi, double& mean, double& rms) {
  double sumw = 0, sumwx = 0, sumwx2 = 0;
  for (int b = 1; b <= h->GetNbinsX(); b++) {
    const double x = h->GetBinCenter(b);
    if (x < lo || x > hi) continue;
    const double w = h->GetBinContent(b);
    sumw += w;
    sumwx += w * x;
    sumwx2 += w * x * x;
  }
  if (sumw <= 0) return false;
  mean = sumwx / sumw;
  rms = std::sqrt(std::max(sumwx2 / sumw - mean * mean, 0.0));
  return true;
}

// Filled bins of `h` whose centres lie in [lo, hi].
int filled_bins(TH1D* h, double lo, double hi) {
  int filled = 0;
  for (int b = 1; b <= h->GetNbinsX(); b++) {
    const double x = h->GetBinCenter(b);
    if (x >= lo && x <= hi && h->GetBinContent(b) > 0) filled++;
  }
  return filled;
}

// One Gaussian fit of `h` over [lo, hi] starting from (amplitude, m, s). A fit
// that converges to finite values replaces m and s by its mean and sigma; one
// that does not, or that has fewer filled bins than the Gaussian has
// parameters, leaves the projection's mean and RMS within the window in them.
void fit_window(TH1D* h, double amplitude, double lo, double hi, double& m, double& s) {
  constexpr int kGaussianParameters = 3;
  fg->SetParameters(amplitude, m, s, 0, 0, 0, 0, 0, 0, 0, 0);
  fg->SetRange(lo, hi);
  const bool determined = filled_bins(h, lo, hi) >= kGaussianParameters;
  const int status = determined ? static_cast<int>(h->Fit(fg, "RQ0N", "", 0, 0)) : -1;
  const double mean = fg->GetParameter(1);
  const double sigma = fg->GetParameter(2);
  if (status == 0 && std::isfinite(mean) && std::isfinite(sigma)) {
    m = mean;
    s = sigma;
    return;
  }
  window_moments(h, lo, hi, m, s);
}

// Bins per group, the largest bins of a group left out of its score, and the
// groups on either side added to a group's score to smooth it.
constexpr int kSeedGroup = 16, kSeedSpikes = 2, kSeedSmoothing = 2;
// Groups in a row below half the best score that end the beam's extent; a
// single group below it is a dip of a sparse profile.
constexpr int kSeedDips = 3;
// Half-width of the first fit's window around the beam found, in its sigmas.
constexpr double kSeedWindowSigmas = 3;

// The bins of `h` in groups of kSeedGroup, each scored by its content without
// its kSeedSpikes largest bins: a hot pixel or two add to a single bin of the
// projection, a beam to many adjacent ones.
std::vector<double> spike_free_group_scores(TH1D* h) {
  const int nbins = h->GetNbinsX();
  std::vector<double> scores((nbins + kSeedGroup - 1) / kSeedGroup, 0.0);
  for (std::size_t g = 0; g < scores.size(); g++) {
    const int first = static_cast<int>(g) * kSeedGroup + 1;
    const int last = std::min(first + kSeedGroup - 1, nbins);
    double sum = 0, largest[kSeedSpikes] = {};
    for (int b = first; b <= last; b++) {
      const double content = h->GetBinContent(b);
      sum += content;
      double carry = content;
      for (double& top : largest)
        if (carry > top) std::swap(carry, top);
    }
    for (double top : largest) sum -= top;
    scores[g] = sum;
  }
  return scores;
}

// Each score plus those of its kSeedSmoothing neighbours on either side: a
// wide beam seen in few events spreads few hits over each group, and the
// single groups' counts scatter too much to find its half maximum.
std::vector<double> smoothed(const std::vector<double>& scores) {
  const int groups = static_cast<int>(scores.size());
  std::vector<double> sums(scores.size(), 0.0);
  for (int g = 0; g < groups; g++)
    for (int k = std::max(g - kSeedSmoothing, 0); k <= std::min(g + kSeedSmoothing, groups - 1); k++)
      sums[g] += scores[k];
  return sums;
}

// The window [lo, hi] of the first fit of a beam profile. A fit of the
// predefined Gaussian starts from the mean and RMS of the bins it is given,
// and over the whole axis those are pulled towards the middle by noise
// spread over the stave; started there, the fit can settle on a wide, flat
// Gaussian that follows the noise floor. The beam is found instead as the
// best of the smoothed spike_free_group_scores: the window is centred on the
// score-weighted centre of that group and its neighbours, and its half-width
// is kSeedWindowSigmas times the sigma implied by where the smoothed scores
// fall to half the best on either side. False when no group scores (a beam
// of one or two pixels, or nothing but single hot pixels).
bool beam_window(TH1D* h, double& lo, double& hi) {
  const std::vector<double> scores = spike_free_group_scores(h);
  const std::vector<double> profile = smoothed(scores);
  const auto best_it = std::max_element(profile.begin(), profile.end());
  if (best_it == profile.end() || *best_it <= 0) return false;
  const int best = static_cast<int>(best_it - profile.begin());
  const int groups = static_cast<int>(scores.size());
  const TAxis* axis = h->GetXaxis();
  const double group_width = kSeedGroup * axis->GetBinWidth(1);
  double weight = 0, weighted_centre = 0;
  for (int g = std::max(best - kSeedSmoothing, 0); g <= std::min(best + kSeedSmoothing, groups - 1); g++) {
    weight += scores[g];
    weighted_centre += scores[g] * (axis->GetBinLowEdge(g * kSeedGroup + 1) + 0.5 * group_width);
  }
  // The half maximum on either side: the last group at or above it before
  // kSeedDips groups in a row fall below it.
  const double half = 0.5 * *best_it;
  const auto half_maximum = [&](int step) {
    int last = best;
    for (int g = best + step, below = 0; g >= 0 && g < groups && below < kSeedDips; g += step) {
      below = profile[g] >= half ? 0 : below + 1;
      if (below == 0) last = g;
    }
    return last;
  };
  const int left = half_maximum(-1), right = half_maximum(+1);
  constexpr double kHalfWidthPerSigma = 1.1774;  // sqrt(2 ln 2)
  const double sigma = 0.5 * (right - left + 1) * group_width / kHalfWidthPerSigma;
  const double centre = weighted_centre / weight;
  lo = centre - kSeedWindowSigmas * sigma;
  hi = centre + kSeedWindowSigmas * sigma;
  return true;
}

// Beam position and width along the axis of projection `h`: a first fit in
// the beam_window (over the whole axis when there is none), then a refit
// within mean +/- 2.5 sigma. The mean stays within the centres of the first
// and last bins; the width is the absolute sigma. `pull_onto_axis` moves a
// first-pass window lying wholly above the axis onto its last bin before
// refitting (done for columns only).
void fit_beam_profile(TH1D* h, bool pull_onto_axis, double& position, double& width) {
  TAxis* axis = h->GetXaxis();
  const double first_centre = axis->GetBinCenter(1);
  const double last_centre = axis->GetBinCenter(axis->GetNbins());
  double lo = axis->GetXmin(), hi = axis->GetXmax();
  beam_window(h, lo, hi);
  double m = h->GetMean(1);
  double s = h->GetRMS(1);
  fit_window(h, h->GetBinContent(h->GetMaximumBin()), lo, hi, m, s);
  if (pull_onto_axis && m - kWindowSigmas * std::fabs(s) > last_centre) m = last_centre;
  const double half_window = kWindowSigmas * std::fabs(s);
  fit_window(h, fg->GetParameter(0), m - half_window, m + half_window, m, s);
  position = std::clamp(m, first_centre, last_centre);
  width = std::fabs(s);
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
    fit_beam_profile(hx, true, mx, rx);
    fit_beam_profile(hy, false, my, ry);
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
