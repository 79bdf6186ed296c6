#include "GaussProblem.h"

#include <gsl/gsl_errno.h>
#include <gsl/gsl_linalg.h>
#include <gsl/gsl_matrix.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace rootcompat {

// --- ParameterMap

bool ParameterMap::Bounded(size_t i) const { return lo[i] < hi[i]; }

double ParameterMap::External(size_t i, double t) const {
  return Bounded(i) ? lo[i] + (hi[i] - lo[i]) * (std::sin(t) + 1) / 2 : t;
}

double ParameterMap::Internal(size_t i, double p) const {
  if (!Bounded(i)) return p;
  const double s = std::clamp(2 * (p - lo[i]) / (hi[i] - lo[i]) - 1, -1.0, 1.0);
  return std::asin(s);
}

double ParameterMap::Derivative(size_t i, double t) const {
  return Bounded(i) ? (hi[i] - lo[i]) * std::cos(t) / 2 : 1;
}

// --- GaussGrid

GaussGrid::GaussGrid(double firstCentre, double width, size_t size)
    : fX0(firstCentre), fWidth(width), fValues(size) {}

const std::vector<double>& GaussGrid::Values(double mean, double sigma) {
  if (fValid && mean == fMean && sigma == fSigma) return fValues;
  fValid = true;
  fMean = mean;
  fSigma = sigma;
  const size_t n = fValues.size();
  if (sigma == 0) {  // as TMath::Gaus
    std::fill(fValues.begin(), fValues.end(), 1.e30);
    return fValues;
  }
  const double s2 = sigma * sigma;
  const double q = std::exp(-fWidth * fWidth / s2);
  const double nearest = std::round((mean - fX0) / fWidth);
  const size_t c = nearest <= 0 ? 0 : std::min(n - 1, size_t(std::min(nearest, double(n))));
  FillFrom(long(c), +1, s2, q);
  FillFrom(long(c), -1, s2, q);
  return fValues;
}

double GaussGrid::Centre(long k) const { return fX0 + double(k) * fWidth; }

double GaussGrid::Exact(long k) const {
  const double u = (Centre(k) - fMean) / fSigma;
  return std::exp(-0.5 * u * u);
}

double GaussGrid::Ratio(long k, int step, double s2) const {
  if (step > 0) return std::exp(-(fWidth * (Centre(k) - fMean) + 0.5 * fWidth * fWidth) / s2);
  return std::exp((fWidth * (Centre(k) - fMean) - 0.5 * fWidth * fWidth) / s2);
}

namespace {

constexpr int kGridLanes = 8;
typedef double GridLanes __attribute__((vector_size(kGridLanes * sizeof(double))));

// Stretches of `length` values, one per lane: from the start values `value`,
// each next value is the one before times its ratio, and the ratio is
// multiplied by `q` each time. Row s of `rows` holds the s-th value of every
// stretch. Compiled for AVX-512 and AVX2 as well as the baseline, chosen when
// the library is loaded; each gives the same bits.
__attribute__((target_clones("avx512f", "avx2", "default"))) void FillStretches(
    const double (&start)[kGridLanes], const double (&startRatio)[kGridLanes], double q, long length,
    double (*rows)[kGridLanes]) {
  GridLanes value, ratio;
  std::memcpy(&value, start, sizeof value);
  std::memcpy(&ratio, startRatio, sizeof ratio);
  std::memcpy(rows[0], &value, sizeof value);
  for (long s = 1; s < length; ++s) {
    value *= ratio;
    ratio *= q;
    std::memcpy(rows[s], &value, sizeof value);
  }
}

}  // namespace

void GaussGrid::FillFrom(long c, int step, double s2, double q) {
  static_assert(kLanes == kGridLanes);
  const long n = long(fValues.size());
  const long extent = step > 0 ? n - c : c + 1;  // bins from c on, c included
  double* values = fValues.data();
  double rows[kReseed][kLanes];
  for (long first = 0; first < extent; first += kLanes * kReseed) {
    double start[kLanes] = {}, ratio[kLanes] = {};
    long length[kLanes] = {};
    for (int l = 0; l < kLanes; ++l) {
      const long offset = first + l * kReseed;
      length[l] = std::clamp(extent - offset, 0L, kReseed);
      if (length[l] == 0) continue;
      start[l] = Exact(c + step * offset);
      ratio[l] = Ratio(c + step * offset, step, s2);
    }
    FillStretches(start, ratio, q, length[0], rows);
    for (int l = 0; l < kLanes; ++l)
      for (long s = 0; s < length[l]; ++s) values[c + step * (first + l * kReseed + s)] = rows[s][l];
  }
}

// --- PointColumns

PointColumns::PointColumns(const std::vector<FitPoint>& points, Int_t firstBin) {
  for (auto* column : {&fX, &fY, &fError}) column->reserve(points.size());
  fCell.reserve(points.size());
  for (const FitPoint& pt : points) {
    fX.push_back(pt.x);
    fY.push_back(pt.y);
    fError.push_back(pt.error);
    fCell.push_back(size_t(pt.bin - firstBin));
  }
  fContiguous = points.back().bin - firstBin + 1 == Int_t(points.size());
  if (!fContiguous) fGaussAtPoints.resize(points.size());
}

const double* PointColumns::GaussAtPoints(const std::vector<double>& grid) {
  if (fContiguous) return grid.data();
  for (size_t i = 0; i < fCell.size(); ++i) fGaussAtPoints[i] = grid[fCell[i]];
  return fGaussAtPoints.data();
}

// --- Jacobian and errors

GausParams ExternalParams(const Problem& pb, const double* t) {
  GausParams p;
  for (size_t i = 0; i < p.size(); ++i) p[i] = pb.map.External(i, t[i]);
  return p;
}

namespace {

// The three columns of the Jacobian at the points, each a whole array.
void JacobianColumns(size_t n, const GausParams& p, const double (&chain)[3], const double* __restrict x,
                     const double* __restrict error, const double* __restrict g, double* __restrict d0,
                     double* __restrict d1, double* __restrict d2) {
  const double constant = p[0], mean = p[1], sigma = p[2];
  const double c0 = chain[0], c1 = chain[1], c2 = chain[2];
  for (size_t i = 0; i < n; ++i) {
    const double u = (x[i] - mean) / sigma;
    const double gi = g[i] / error[i];
    d0[i] = gi * c0;
    d1[i] = constant * gi * u / sigma * c1;
    d2[i] = constant * gi * u * u / sigma * c2;
  }
}

}  // namespace

void FillJacobianColumns(Problem& pb, const GausParams& p, const double (&chain)[3]) {
  PointColumns& points = pb.columns;
  const double* g = points.GaussAtPoints(pb.grid.Values(p[1], p[2]));
  const size_t n = points.Size();
  for (auto& column : pb.jacobian) column.resize(n);
  JacobianColumns(n, p, chain, points.X(), points.Error(), g, pb.jacobian[0].data(), pb.jacobian[1].data(),
                  pb.jacobian[2].data());
}

std::vector<double> ParameterErrors(Problem& pb, const GausParams& p) {
  FillJacobianColumns(pb, p, {1, 1, 1});
  const size_t n = pb.columns.Size();
  gsl_matrix* jtj = gsl_matrix_calloc(3, 3);
  for (size_t a = 0; a < 3; ++a)
    for (size_t b = 0; b <= a; ++b) {
      const double* da = pb.jacobian[a].data();
      const double* db = pb.jacobian[b].data();
      double sum = 0;
      for (size_t i = 0; i < n; ++i) sum += da[i] * db[i];
      gsl_matrix_set(jtj, a, b, sum);
    }
  std::vector<double> errors(3, 0.0);
  if (gsl_linalg_cholesky_decomp1(jtj) == GSL_SUCCESS && gsl_linalg_cholesky_invert(jtj) == GSL_SUCCESS)
    for (size_t i = 0; i < 3; ++i) errors[i] = std::sqrt(std::max(gsl_matrix_get(jtj, i, i), 0.0));
  gsl_matrix_free(jtj);
  return errors;
}

}  // namespace rootcompat
