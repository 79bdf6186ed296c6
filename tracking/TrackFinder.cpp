#include "TrackFinder.h"

#include <algorithm>
#include <cmath>

namespace kivo::tracking {

namespace {

constexpr double kSlopeBlock = 256;      // tracks whose slopes give one measurement of their spread
constexpr double kFirstSlopeWidth = 2;   // pixels per plane spacing, until measured
constexpr double kLeastSlopeWidth = 0.1;

// The first of `values` (ascending) at `value` or beyond.
std::size_t first_from(const std::vector<double>& values, double value) {
  return static_cast<std::size_t>(std::lower_bound(values.begin(), values.end(), value) - values.begin());
}

}  // namespace

void AlignedStave::set(const std::vector<Cluster>& clusters, double columns, double rows) {
  u.resize(clusters.size());
  v.resize(clusters.size());
  for (std::size_t i = 0; i < clusters.size(); ++i) {
    u[i] = clusters[i].column - columns;
    v[i] = clusters[i].row - rows;
  }
}

TrackFinder::TrackFinder(const Settings& settings) : settings_(settings) {
  const auto& z = settings.plane_positions;
  const auto [low, high] = std::minmax_element(z.begin(), z.end());
  spacing_ = (*high - *low) / (kStaves - 1);
  for (int dut = 0; dut < kStaves; ++dut) {
    int others[3], n = 0;
    for (int s = 0; s < kStaves; ++s)
      if (s != dut) others[n++] = s;
    std::sort(others, others + 3, [&z](int x, int y) { return z[x] < z[y]; });
    Planes& p = planes_[dut];
    p.a = others[0], p.b = others[1], p.c = others[2];
    const double mean = (z[p.a] + z[p.b] + z[p.c]) / 3;
    p.t = (z[p.b] - z[p.a]) / (z[p.c] - z[p.a]);
    p.span = z[p.c] - z[p.a];
    p.da = z[p.a] - mean, p.db = z[p.b] - mean, p.dc = z[p.c] - mean;
    p.szz = p.da * p.da + p.db * p.db + p.dc * p.dc;
    p.dut = z[dut] - mean;
  }
  reset();
}

void TrackFinder::reset() {
  slopes_ = {};
  mean_slope_ = {};
  slopes_.width_columns = slopes_.width_rows = kFirstSlopeWidth / spacing_;
}

void TrackFinder::add_slope(double columns, double rows) {
  Slopes& s = slopes_;
  s.n += 1;
  s.columns += columns;
  s.rows += rows;
  s.columns2 += columns * columns;
  s.rows2 += rows * rows;
  if (s.n < kSlopeBlock) return;
  s.mean_columns = s.columns / s.n;
  s.mean_rows = s.rows / s.n;
  const double least = kLeastSlopeWidth / spacing_;
  s.width_columns = std::max(least, std::sqrt(std::max(0.0, s.columns2 / s.n - s.mean_columns * s.mean_columns)));
  s.width_rows = std::max(least, std::sqrt(std::max(0.0, s.rows2 / s.n - s.mean_rows * s.mean_rows)));
  mean_slope_ = {s.mean_columns, s.mean_rows, s.width_columns / std::sqrt(s.n), s.width_rows / std::sqrt(s.n),
                 mean_slope_.blocks + 1};
  s.n = s.columns = s.rows = s.columns2 = s.rows2 = 0;
}

bool TrackFinder::find(int dut, const std::array<AlignedStave, kStaves>& staves, const Aligner& aligner,
                       std::vector<Prediction>& out) {
  out.clear();
  candidates_.clear();
  const Planes& p = planes_[dut];
  const AlignedStave& A = staves[p.a];
  const AlignedStave& B = staves[p.b];
  const AlignedStave& C = staves[p.c];
  const double sigma = aligner.resolution();
  const double road = std::max(settings_.road_pixels,
                               settings_.road_widths * sigma * std::sqrt(1 + (1 - p.t) * (1 - p.t) + p.t * p.t));
  const double window_columns = road + settings_.road_widths * slopes_.width_columns * p.span;
  const double window_rows = road + settings_.road_widths * slopes_.width_rows * p.span;
  const double shift_columns = slopes_.mean_columns * p.span, shift_rows = slopes_.mean_rows * p.span;
  const double inverse_variance = 1 / (sigma * sigma);
  const std::size_t na = A.u.size(), nb = B.u.size(), nc = C.u.size();
  int tried = 0;
  bool capped = false;
  std::size_t first_c = 0;
  for (std::size_t i = 0; i < na && !capped; ++i) {
    const double ua = A.u[i], va = A.v[i];
    const double uc_centre = ua + shift_columns, vc_centre = va + shift_rows;
    while (first_c < nc && C.u[first_c] < uc_centre - window_columns) ++first_c;
    for (std::size_t k = first_c; k < nc && C.u[k] <= uc_centre + window_columns && !capped; ++k) {
      const double uc = C.u[k], vc = C.v[k];
      if (std::abs(vc - vc_centre) > window_rows) continue;
      const double ub_line = ua + (uc - ua) * p.t, vb_line = va + (vc - va) * p.t;
      for (std::size_t j = first_from(B.u, ub_line - road); j < nb && B.u[j] <= ub_line + road; ++j) {
        const double ub = B.u[j], vb = B.v[j];
        if (std::abs(vb - vb_line) > road) continue;
        if (++tried > kMaxCandidates) {
          capped = true;
          break;
        }
        const double mu = (ua + ub + uc) / 3, mv = (va + vb + vc) / 3;
        const double su = (p.da * ua + p.db * ub + p.dc * uc) / p.szz, sv = (p.da * va + p.db * vb + p.dc * vc) / p.szz;
        const double ra = ua - mu - su * p.da, rb = ub - mu - su * p.db, rc = uc - mu - su * p.dc;
        const double qa = va - mv - sv * p.da, qb = vb - mv - sv * p.db, qc = vc - mv - sv * p.dc;
        const double chi2 = (ra * ra + rb * rb + rc * rc + qa * qa + qb * qb + qc * qc) * inverse_variance;
        if (chi2 <= settings_.max_chi2)
          candidates_.push_back({static_cast<int>(i), static_cast<int>(j), static_cast<int>(k), chi2, mu, su, mv, sv});
      }
    }
  }
  // Best first; nearly always a handful, nearly in order.
  if (candidates_.size() > 32)
    std::sort(candidates_.begin(), candidates_.end(),
              [](const Candidate& x, const Candidate& y) { return x.chi2 < y.chi2; });
  for (std::size_t i = 1; i < candidates_.size(); ++i) {
    const Candidate candidate = candidates_[i];
    std::size_t j = i;
    for (; j > 0 && candidates_[j - 1].chi2 > candidate.chi2; --j) candidates_[j] = candidates_[j - 1];
    candidates_[j] = candidate;
  }
  if (candidates_.size() > 1) {
    used_[0].assign(na, 0);
    used_[1].assign(nb, 0);
    used_[2].assign(nc, 0);
  }
  const double dut_columns = aligner.columns(dut), dut_rows = aligner.rows(dut);
  for (const Candidate& candidate : candidates_) {
    if (candidates_.size() > 1) {
      char& a = used_[0][static_cast<std::size_t>(candidate.a)];
      char& b = used_[1][static_cast<std::size_t>(candidate.b)];
      char& c = used_[2][static_cast<std::size_t>(candidate.c)];
      if (a || b || c) continue;
      a = b = c = 1;
    }
    add_slope(candidate.column_slope, candidate.row_slope);
    const Prediction prediction{candidate.column + candidate.column_slope * p.dut + dut_columns,
                                candidate.row + candidate.row_slope * p.dut + dut_rows};
    if (prediction.column >= -0.5 && prediction.column < kStaveColumns - 0.5 && prediction.row >= -0.5 &&
        prediction.row < kRows - 0.5)
      out.push_back(prediction);
  }
  return !capped;
}

}  // namespace kivo::tracking
