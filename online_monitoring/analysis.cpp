// Derived quantities: per-event rates, normalised distributions and hit maps,
// unit-area beam-position differences and the fitted beam position of every
// stave; and the operator's status summary built from them.
#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <iostream>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "TAxis.h"
#include "TF1.h"
#include "TGraphAsymmErrors.h"
#include "TH1D.h"
#include "TH1F.h"
#include "TH2F.h"
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

// Sums of the normalised map over its rows and over its columns: the contents
// that ProjectionX and ProjectionY give, added up in the same order.
struct MapProjections {
  std::vector<double> columns;  // by x bin
  std::vector<double> rows;     // by y bin
};

// Empties `map` as Reset("") would, except for its in-range cells, which the
// caller overwrites next: the under- and overflow cells, sums and entries.
void reset_outside_range(TH2F* map) {
  const int nx = map->GetNbinsX();
  const int ny = map->GetNbinsY();
  const int stride = nx + 2;
  float* cells = map->GetArray();
  std::fill(cells, cells + stride, 0.0f);
  std::fill(cells + (ny + 1) * stride, cells + (ny + 2) * stride, 0.0f);
  for (int y = 1; y <= ny; y++) {
    cells[y * stride] = 0;
    cells[y * stride + nx + 1] = 0;
  }
  if (map->GetSumw2N()) map->GetSumw2()->Reset();
  double stats[TH1::kNstat] = {};
  map->PutStats(stats);
  map->SetEntries(0);
}

// Hit counts divided by the event count. The raw maps hold whole numbers of
// hits, mostly small: their quotients are divided once into a table, any
// other content is divided where it is met. Either way each quotient is the
// float of the same double division.
struct QuotientTable {
  static constexpr int kSize = 4096;
  double nevents;
  float quotients[kSize];
};

void fill_quotient_table(QuotientTable& table, double nevents) {
  table.nevents = nevents;
  for (int count = 0; count < QuotientTable::kSize; count++)
    table.quotients[count] = static_cast<float>(count / nevents);
}

float per_event(const QuotientTable& table, float content) {
  if (content >= 0 && content < QuotientTable::kSize) {
    const int count = static_cast<int>(content);
    if (count == content) return table.quotients[count];
  }
  return static_cast<float>(content / table.nevents);
}

// Every in-range cell of `source` divided by the event count into `target`,
// walked eight rows at a time so that the row sums advance side by side. The
// row and column sums of the new contents come out of the same pass, each
// added up in the order of the projections.
void normalise_in_order(const float* source_cells, float* target_cells, int nx, int ny,
                        const QuotientTable& table, MapProjections& projections) {
  constexpr int kRowBlock = 8;
  const int stride = nx + 2;
  projections.columns.assign(stride, 0.0);
  projections.rows.assign(ny + 2, 0.0);
  for (int y0 = 1; y0 <= ny; y0 += kRowBlock) {
    const int nrows = std::min(kRowBlock, ny + 1 - y0);
    double row_sums[kRowBlock] = {};
    for (int x = 1; x <= nx; x++) {
      double column_sum = projections.columns[x];
      for (int k = 0; k < nrows; k++) {
        const int cell = (y0 + k) * stride + x;
        const float content = per_event(table, source_cells[cell]);
        target_cells[cell] = content;
        column_sum += content;
        row_sums[k] += content;
      }
      projections.columns[x] = column_sum;
    }
    for (int k = 0; k < nrows; k++) projections.rows[y0 + k] = row_sums[k];
  }
}

// The least non-zero and the largest magnitude among the normalised contents,
// as bit patterns of the magnitudes, which order as the magnitudes do (a NaN
// above every number).
struct MagnitudeRange {
  std::uint32_t smallest = 0x7fffffff;
  std::uint32_t largest = 0;

  void widen(std::uint32_t smallest_bits, std::uint32_t largest_bits) {
    smallest = std::min(smallest, smallest_bits);
    largest = std::max(largest, largest_bits);
  }
  void add(float value) {
    const std::uint32_t magnitude = std::bit_cast<std::uint32_t>(value) & 0x7fffffff;
    if (magnitude != 0) widen(magnitude, magnitude);
  }
};

// True when adding up to `count` values of magnitudes within `range` is exact
// in double whatever the order: every value is a whole multiple of the unit in
// the last place of the smallest, and no partial sum reaches 2^53 such units.
bool sums_are_exact(const MagnitudeRange& range, int count) {
  const float largest = std::bit_cast<float>(range.largest);
  if (!std::isfinite(largest)) return false;
  if (largest == 0) return true;
  int exponent = 0;
  std::frexp(std::bit_cast<float>(range.smallest), &exponent);
  const double unit = std::ldexp(1.0, std::max(exponent - std::numeric_limits<float>::digits, -149));
  return count * static_cast<double>(largest) < std::ldexp(unit, std::numeric_limits<double>::digits);
}

#if defined(__x86_64__)
#define KIVO_WIDE_NORMALISATION 1

// One row of `n` cells divided by the event count, sixteen cells at a time:
// whole counts below 32 are looked up in registers, other whole counts below
// the table size gathered from the table, and any group holding another
// content divided cell by cell. The groups are stored past the cache, as
// nothing here reads the normalised map again; the cells before the first
// 64-byte boundary of the row and those after the last group go one by one.
// Adds each quotient to its column sum (rows come in order, so those sums keep
// the projection's order), widens `range`, and returns the row's sum added in
// no particular order.
__attribute__((target("avx512f,avx512dq"))) double normalise_row_wide(
    const float* source, float* target, int n, const QuotientTable& table, double* columns,
    MagnitudeRange& range) {
  constexpr int kLanes = 16;
  const __m512 first_quotients = _mm512_loadu_ps(table.quotients);
  const __m512 next_quotients = _mm512_loadu_ps(table.quotients + kLanes);
  const __m512i register_counts = _mm512_set1_epi32(2 * kLanes);
  const __m512i table_size = _mm512_set1_epi32(QuotientTable::kSize);
  const __m512i magnitude_bits = _mm512_set1_epi32(0x7fffffff);
  __m512i smallest = magnitude_bits;
  __m512i largest = _mm512_setzero_si512();
  __m512d sum_low = _mm512_setzero_pd();
  __m512d sum_high = _mm512_setzero_pd();
  double sum = 0;
  const auto one_cell = [&](int x) {
    const float quotient = per_event(table, source[x]);
    target[x] = quotient;
    columns[x] += quotient;
    sum += quotient;
    range.add(quotient);
  };
  int x = 0;
  while (x < n && reinterpret_cast<std::uintptr_t>(target + x) % 64 != 0) one_cell(x++);
  for (; x + kLanes <= n; x += kLanes) {
    const __m512 contents = _mm512_loadu_ps(source + x);
    const __m512i counts = _mm512_cvttps_epi32(contents);
    const __mmask16 whole = _mm512_cmp_ps_mask(_mm512_cvtepi32_ps(counts), contents, _CMP_EQ_OQ) &
                            _mm512_cmplt_epu32_mask(counts, table_size);
    __m512 quotients;
    if (whole != 0xffff) {
      alignas(64) float divided[kLanes];
      for (int k = 0; k < kLanes; k++) divided[k] = per_event(table, source[x + k]);
      quotients = _mm512_load_ps(divided);
    } else if (_mm512_cmplt_epu32_mask(counts, register_counts) == 0xffff) {
      quotients = _mm512_permutex2var_ps(first_quotients, counts, next_quotients);
    } else {
      quotients = _mm512_i32gather_ps(counts, table.quotients, sizeof(float));
    }
    _mm512_stream_ps(target + x, quotients);
    const __m512d low = _mm512_cvtps_pd(_mm512_castps512_ps256(quotients));
    const __m512d high = _mm512_cvtps_pd(_mm512_extractf32x8_ps(quotients, 1));
    _mm512_storeu_pd(columns + x, _mm512_add_pd(_mm512_loadu_pd(columns + x), low));
    _mm512_storeu_pd(columns + x + kLanes / 2, _mm512_add_pd(_mm512_loadu_pd(columns + x + kLanes / 2), high));
    sum_low = _mm512_add_pd(sum_low, low);
    sum_high = _mm512_add_pd(sum_high, high);
    const __m512i magnitudes = _mm512_and_si512(_mm512_castps_si512(quotients), magnitude_bits);
    largest = _mm512_max_epu32(largest, magnitudes);
    smallest = _mm512_mask_min_epu32(smallest, _mm512_test_epi32_mask(magnitudes, magnitudes), smallest,
                                     magnitudes);
  }
  sum += _mm512_reduce_add_pd(_mm512_add_pd(sum_low, sum_high));
  range.widen(_mm512_reduce_min_epu32(smallest), _mm512_reduce_max_epu32(largest));
  for (; x < n; x++) one_cell(x);
  return sum;
}

bool wide_normalisation_available() {
  static const bool available = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq");
  return available;
}

// The map normalised row by row with wide registers. False, with the sums
// left unusable, when the row sums added out of order could differ from the
// sums in order.
bool normalise_wide(const float* source_cells, float* target_cells, int nx, int ny,
                    const QuotientTable& table, MapProjections& projections) {
  const int stride = nx + 2;
  projections.columns.assign(stride, 0.0);
  projections.rows.assign(ny + 2, 0.0);
  MagnitudeRange range;
  for (int y = 1; y <= ny; y++) {
    const int first = y * stride + 1;
    projections.rows[y] = normalise_row_wide(source_cells + first, target_cells + first, nx, table,
                                             projections.columns.data() + 1, range);
  }
  _mm_sfence();  // the streamed stores are done before anyone reads the map
  return sums_are_exact(range, nx);
}
#endif

// The stave's map divided by the event count into its normalised map. The
// result equals Reset and one SetBinContent per bin: the same contents, one
// entry per bin written, statistics left to be rebuilt from the bins.
void normalise_hit_map(int i, const QuotientTable& table, MapProjections& projections) {
  TH2F* target = h2d_chip_norm[i];
  reset_outside_range(target);
  const int nx = h2d_chip[i]->GetNbinsX();
  const int ny = h2d_chip[i]->GetNbinsY();
  const float* source_cells = h2d_chip[i]->GetArray();
  float* target_cells = target->GetArray();
  bool normalised = false;
#ifdef KIVO_WIDE_NORMALISATION
  normalised = wide_normalisation_available() &&
               normalise_wide(source_cells, target_cells, nx, ny, table, projections);
#endif
  if (!normalised) normalise_in_order(source_cells, target_cells, nx, ny, table, projections);
  target->SetEntries(static_cast<double>(nx) * ny);
}

// A fresh projection of the normalised map onto `axis`, named and filled as
// ProjectionX("_px") or ProjectionY("_py") would make it (contents from the
// sums above, statistics rebuilt from the bins, no errors stored).
TH1D* make_projection(TH2F* map, const TAxis* axis, const char* suffix,
                      const std::vector<double>& sums) {
  const std::string name = std::string(map->GetName()) + suffix;
  TH1D* h = new TH1D(name.c_str(), map->GetTitle(), axis->GetNbins(), axis->GetXmin(),
                     axis->GetXmax());
  double total = 0;
  for (int b = 0; b <= axis->GetNbins() + 1; b++) {
    h->SetBinContent(b, sums[b]);
    total += sums[b];
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
// and last bins; the width is the absolute sigma. `test_before_refit` moves a
// first-pass window lying wholly above the axis onto its last bin before
// refitting (done for columns only).
void fit_beam_profile(TH1D* h, bool test_before_refit, double& position, double& width) {
  TAxis* axis = h->GetXaxis();
  const double first_centre = axis->GetBinCenter(1);
  const double last_centre = axis->GetBinCenter(axis->GetNbins());
  double lo = axis->GetXmin(), hi = axis->GetXmax();
  beam_window(h, lo, hi);
  double m = h->GetMean(1);
  double s = h->GetRMS(1);
  fit_window(h, h->GetBinContent(h->GetMaximumBin()), lo, hi, m, s);
  if (test_before_refit && m - kWindowSigmas * std::fabs(s) > last_centre) m = last_centre;
  const double half_window = kWindowSigmas * std::fabs(s);
  fit_window(h, fg->GetParameter(0), m - half_window, m + half_window, m, s);
  position = std::clamp(m, first_centre, last_centre);
  width = std::fabs(s);
}

// Fits the column and row projections of the stave's normalised map and
// stores the result as point 0 of its graph; a stave with an empty map is not
// fitted and its graph is left without a point.
void fit_beam_position(int i, const MapProjections& projections) {
  TH2F* map = h2d_chip_norm[i];
  TH1D* hx = make_projection(map, map->GetXaxis(), "_px", projections.columns);
  TH1D* hy = make_projection(map, map->GetYaxis(), "_py", projections.rows);
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

void fill_differences(int i) {
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

}  // namespace

int analysis() {
  if (!histos_booked("analysis")) return -1;
  if (!hhitrate_chip) create_derived();
  const double nevents = hnevnt->Integral("");
  if (!(nevents > 0)) return 1;
  fill_rates(nevents);
  QuotientTable table;
  fill_quotient_table(table, nevents);
  MapProjections projections;
  for (int i = 0; i < NSTAVE; i++) {
    fill_hits_per_event(i, nevents);
    normalise_hit_map(i, table, projections);
    fit_beam_position(i, projections);
    fill_differences(i);
  }
  return 0;
}

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
