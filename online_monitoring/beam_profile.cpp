#include "beam_profile.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "TAxis.h"
#include "TF1.h"
#include "TH1D.h"

namespace {

// Half-width of the refit window, in fitted sigmas.
constexpr double kWindowSigmas = 2.5;

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
void fit_window(TH1D* h, TF1* gaussian, double amplitude, double lo, double hi, double& m, double& s) {
  constexpr int kGaussianParameters = 3;
  gaussian->SetParameters(amplitude, m, s, 0, 0, 0, 0, 0, 0, 0, 0);
  gaussian->SetRange(lo, hi);
  const bool determined = filled_bins(h, lo, hi) >= kGaussianParameters;
  const int status = determined ? static_cast<int>(h->Fit(gaussian, "RQ0N", "", 0, 0)) : -1;
  const double mean = gaussian->GetParameter(1);
  const double sigma = gaussian->GetParameter(2);
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

}  // namespace

void fit_beam_profile(TH1D* h, TF1* gaussian, PullOntoAxis pull, double& position, double& width) {
  TAxis* axis = h->GetXaxis();
  const double first_centre = axis->GetBinCenter(1);
  const double last_centre = axis->GetBinCenter(axis->GetNbins());
  double lo = axis->GetXmin(), hi = axis->GetXmax();
  beam_window(h, lo, hi);
  double m = h->GetMean(1);
  double s = h->GetRMS(1);
  fit_window(h, gaussian, h->GetBinContent(h->GetMaximumBin()), lo, hi, m, s);
  if (pull == PullOntoAxis::yes && m - kWindowSigmas * std::fabs(s) > last_centre) m = last_centre;
  const double half_window = kWindowSigmas * std::fabs(s);
  fit_window(h, gaussian, gaussian->GetParameter(0), m - half_window, m + half_window, m, s);
  position = std::clamp(m, first_centre, last_centre);
  width = std::fabs(s);
}
