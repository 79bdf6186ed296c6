#include "GaussLeastSquares.h"

#include <gsl/gsl_errno.h>
#include <gsl/gsl_linalg.h>
#include <gsl/gsl_matrix.h>
#include <gsl/gsl_vector.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace rootcompat {

namespace {

FitPath PathFromEnvironment() {
  const char* chosen = std::getenv("KIVO_KERNELS");
  return chosen && std::strcmp(chosen, "reference") == 0 ? FitPath::reference : FitPath::fast;
}

FitPath chosenPath = PathFromEnvironment();

constexpr int kParameters = 3;
constexpr size_t kMaxIterations = 1000;
constexpr double kStepTolerance = 1e-8;
constexpr double kGradientTolerance = 1e-8;
constexpr int kMaxRejectedSteps = 15;

using Vector3 = std::array<double, kParameters>;

// What one pass over the points gives at a trial point.
struct Pass {
  double chi2 = 0;  // f^T f
  double jtj[kParameters][kParameters] = {};  // J^T J, lower triangle
  Vector3 gradient = {};                      // J^T f
};

// Sums over the points kept in kLanes partial sums each (point i in lane
// i % kLanes) and added up in a fixed order, so that the result does not
// depend on how wide the registers are that the loop runs on.
constexpr int kLanes = 8;
constexpr int kSums = 10;  // f^T f, J^T f (3), J^T J (6)
typedef double Lanes __attribute__((vector_size(kLanes * sizeof(double))));

double AddLanes(const Lanes& lanes) {
  return ((lanes[0] + lanes[1]) + (lanes[2] + lanes[3])) + ((lanes[4] + lanes[5]) + (lanes[6] + lanes[7]));
}

// The columns a pass reads: per point its centre, content, inverse error and
// Gaussian.
struct PointBlock {
  const double* x;
  const double* y;
  const double* weight;  // 1 / error
  const double* gauss;
};

struct BlockConstants {
  double constant, mean, inverseSigma;
  double chain[kParameters];
};

// The residuals and Jacobian rows of points (a whole vector of them, or one)
// added into `sums`.
template <class Value>
[[gnu::always_inline]] inline void AddPoints(const Value& x, const Value& y, const Value& weight,
                                             const Value& gauss, const BlockConstants& k, Value (&sums)[kSums]) {
  const Value r = (k.constant * gauss - y) * weight;
  const Value gw = gauss * weight;
  const Value u = (x - k.mean) * k.inverseSigma;
  const Value slope = k.constant * gw * u * k.inverseSigma;
  const Value rows[kParameters] = {gw * k.chain[0], slope * k.chain[1], slope * u * k.chain[2]};
  sums[0] += r * r;
  for (int c = 0; c < kParameters; ++c) sums[1 + c] += rows[c] * r;
  sums[4] += rows[0] * rows[0];
  sums[5] += rows[1] * rows[0];
  sums[6] += rows[1] * rows[1];
  sums[7] += rows[2] * rows[0];
  sums[8] += rows[2] * rows[1];
  sums[9] += rows[2] * rows[2];
}

[[gnu::always_inline]] inline void Load(const double* from, Lanes& lanes) {
  std::memcpy(&lanes, from, sizeof lanes);
}


// All points, kLanes at a time in vector registers, the last few one by one
// into their lanes: compiled for AVX-512 and AVX2 as well as the baseline, chosen when
// the library is loaded. Either gives the same bits.
__attribute__((target_clones("avx512f", "avx2", "default"))) void AddAllPoints(const PointBlock& p,
                                                                  const BlockConstants& k, size_t n,
                                                                  Lanes (&sums)[kSums]) {
  size_t first = 0;
  for (; first + kLanes <= n; first += kLanes) {
    Lanes x, y, weight, gauss;
    Load(p.x + first, x);
    Load(p.y + first, y);
    Load(p.weight + first, weight);
    Load(p.gauss + first, gauss);
    AddPoints(x, y, weight, gauss, k, sums);
  }
  for (size_t i = first; i < n; ++i) {
    const int lane = int(i - first);
    double laneSums[kSums];
    for (int s = 0; s < kSums; ++s) laneSums[s] = sums[s][lane];
    AddPoints(p.x[i], p.y[i], p.weight[i], p.gauss[i], k, laneSums);
    for (int s = 0; s < kSums; ++s) sums[s][lane] = laneSums[s];
  }
}

// The points of the problem with their inverse errors, which every pass reads.
class Passes {
 public:
  explicit Passes(Problem& pb) : fProblem(pb), fSize(pb.columns.Size()), fWeight(fSize) {
    const double* error = pb.columns.Error();
    for (size_t i = 0; i < fSize; ++i) fWeight[i] = 1 / error[i];
  }

  // The pass at internal parameters `t`.
  Pass At(const Vector3& t) {
    const GausParams p = ExternalParams(fProblem, t.data());
    BlockConstants k{p[0], p[1], 1 / p[2], {}};
    for (int c = 0; c < kParameters; ++c) k.chain[c] = fProblem.map.Derivative(size_t(c), t[size_t(c)]);
    PointColumns& points = fProblem.columns;
    const PointBlock block{points.X(), points.Y(), fWeight.data(),
                           points.GaussAtPoints(fProblem.grid.Values(p[1], p[2]))};
    Lanes sums[kSums] = {};
    AddAllPoints(block, k, fSize, sums);
    return Collect(sums);
  }

 private:
  static Pass Collect(const Lanes (&sums)[kSums]) {
    Pass pass;
    pass.chi2 = AddLanes(sums[0]);
    for (int c = 0; c < kParameters; ++c) pass.gradient[size_t(c)] = AddLanes(sums[1 + c]);
    pass.jtj[0][0] = AddLanes(sums[4]);
    pass.jtj[1][0] = AddLanes(sums[5]);
    pass.jtj[1][1] = AddLanes(sums[6]);
    pass.jtj[2][0] = AddLanes(sums[7]);
    pass.jtj[2][1] = AddLanes(sums[8]);
    pass.jtj[2][2] = AddLanes(sums[9]);
    return pass;
  }

  Problem& fProblem;
  size_t fSize;
  std::vector<double> fWeight;
};

// The Levenberg-Marquardt step v of (J^T J + mu I) v = -J^T f, by Cholesky
// decomposition as GSL's solver does it; false when the matrix is not
// positive definite (GSL then rejects the step).
bool SolveStep(const Pass& at, double mu, Vector3& v) {
  double a[kParameters * kParameters] = {};
  for (int r = 0; r < kParameters; ++r)
    for (int c = 0; c <= r; ++c) a[r * kParameters + c] = at.jtj[r][c];
  for (int d = 0; d < kParameters; ++d) a[d * kParameters + d] += mu * 1.0 * 1.0;
  double rhs[kParameters];
  for (int c = 0; c < kParameters; ++c) rhs[c] = -at.gradient[size_t(c)];
  gsl_matrix_view matrix = gsl_matrix_view_array(a, kParameters, kParameters);
  gsl_vector_view b = gsl_vector_view_array(rhs, kParameters);
  gsl_vector_view solution = gsl_vector_view_array(v.data(), kParameters);
  return gsl_linalg_cholesky_decomp1(&matrix.matrix) == GSL_SUCCESS &&
         gsl_linalg_cholesky_solve(&matrix.matrix, &b.vector, &solution.vector) == GSL_SUCCESS;
}

double Norm(const Vector3& v) { return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]); }

// |J v|^2 from J^T J (lower triangle).
double SquaredImage(const double (&jtj)[kParameters][kParameters], const Vector3& v) {
  double diagonal = 0, offDiagonal = 0;
  for (int r = 0; r < kParameters; ++r) {
    diagonal += jtj[r][r] * v[size_t(r)] * v[size_t(r)];
    for (int c = 0; c < r; ++c) offDiagonal += jtj[r][c] * v[size_t(r)] * v[size_t(c)];
  }
  return diagonal + 2 * offDiagonal;
}

// Actual over predicted reduction of the sum of squares by step `v`, -1 when
// the step makes it larger or the model predicts no reduction.
double ReductionRatio(const Pass& current, const Pass& trial, const Vector3& v, double mu) {
  const double normf = std::sqrt(current.chi2);
  const double normfTrial = std::sqrt(trial.chi2);
  if (normfTrial >= normf) return -1.0;
  const double ratio = normfTrial / normf;
  const double actual = 1.0 - ratio * ratio;
  const double u = std::sqrt(SquaredImage(current.jtj, v)) / normf;
  const double w = Norm(v) / normf;
  const double predicted = u * u + 2.0 * mu * w * w;
  return predicted > 0.0 ? actual / predicted : -1.0;
}

// The minimiser's state between iterations.
struct State {
  Vector3 t;
  Pass current;
  Vector3 step = {};  // the last step tried
  double mu = 0;
  long nu = 2;
};

// mu = 1e-3 times the largest squared norm of a Jacobian column.
double InitialDamping(const Pass& at) {
  double largest = -1.0;
  for (int c = 0; c < kParameters; ++c) {
    const double norm = std::sqrt(at.jtj[c][c]);
    largest = largest > norm ? largest : norm;
  }
  return 1.0e-3 * largest * largest;
}

// One iteration: steps tried, the damping raised after each rejected one,
// until one lowers the sum of squares. False after more than
// kMaxRejectedSteps rejected steps in a row.
bool Iterate(Passes& passes, State& s) {
  for (int rejected = 0;;) {
    double rho = -1.0;
    Pass trial;
    if (SolveStep(s.current, s.mu, s.step)) {
      const Vector3 t{s.t[0] + s.step[0], s.t[1] + s.step[1], s.t[2] + s.step[2]};
      trial = passes.At(t);
      rho = ReductionRatio(s.current, trial, s.step, s.mu);
      if (!(rho <= 0.0)) {
        s.t = t;
        s.current = trial;
        const double b = 2.0 * rho - 1.0;
        const double factor = 1.0 - b * b * b;
        s.mu *= 0.333333333333333 > factor ? 0.333333333333333 : factor;
        s.nu = 2;
        return true;
      }
    }
    s.mu *= double(s.nu);
    s.nu <<= 1;
    if (++rejected > kMaxRejectedSteps) return false;
  }
}

// Whether the last step was small against the parameters, or the gradient
// against the sum of squares.
bool Converged(const State& s) {
  bool smallStep = true;
  for (int c = 0; c < kParameters && smallStep; ++c) {
    const double tolerance = kStepTolerance * kStepTolerance + kStepTolerance * std::fabs(s.t[size_t(c)]);
    smallStep = std::fabs(s.step[size_t(c)]) < tolerance;
  }
  if (smallStep) return true;
  double gradient = 0.0;
  for (int c = 0; c < kParameters; ++c) {
    const double scale = s.t[size_t(c)] > 1.0 ? s.t[size_t(c)] : 1.0;
    const double scaled = std::fabs(scale * s.current.gradient[size_t(c)]);
    if (scaled > gradient) gradient = scaled;
  }
  const double fnorm = std::sqrt(s.current.chi2);
  const double phi = 0.5 * fnorm * fnorm;
  return gradient <= kGradientTolerance * (phi > 1.0 ? phi : 1.0);
}

}  // namespace

FitPath GetFitPath() { return chosenPath; }

void SetFitPath(FitPath path) { chosenPath = path; }

FitOutcome MinimiseGaussian(Problem& pb, const std::vector<double>& start) {
  Passes passes(pb);
  State s;
  for (int c = 0; c < kParameters; ++c) s.t[size_t(c)] = pb.map.Internal(size_t(c), start[size_t(c)]);
  s.current = passes.At(s.t);
  s.mu = InitialDamping(s.current);
  bool converged = false;
  for (size_t iteration = 0; iteration < kMaxIterations && !converged; ++iteration) {
    if (!Iterate(passes, s) && iteration == 0) break;
    converged = Converged(s);
  }
  const GausParams fitted = ExternalParams(pb, s.t.data());
  FitOutcome out{converged ? 0 : 4, std::vector<double>(fitted.begin(), fitted.end()), {}, s.current.chi2};
  out.errors = ParameterErrors(pb, fitted);
  return out;
}

}  // namespace rootcompat
