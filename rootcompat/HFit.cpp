// TH1::Fit: chi-square fit of bin contents with their errors, solved by a
// trust-region Levenberg-Marquardt minimisation (GSL's, or on the fast path
// the same steps in GaussLeastSquares.cpp). The predefined "gaus" gets ROOT's
// start values from the selected points and its sigma bounded to [0, 10*rms]
// through a sine transform of an unbounded internal parameter.
#include <gsl/gsl_blas.h>
#include <gsl/gsl_errno.h>
#include <gsl/gsl_linalg.h>
#include <gsl/gsl_matrix.h>
#include <gsl/gsl_multifit_nlinear.h>
#include <gsl/gsl_vector.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "GaussLeastSquares.h"
#include "GaussProblem.h"
#include "TError.h"
#include "TF1.h"
#include "TH1.h"
#include "TList.h"

namespace {

using rootcompat::FitOutcome;
using rootcompat::FitPoint;
using rootcompat::GausParams;
using rootcompat::PointColumns;
using rootcompat::Problem;

// The external parameters of the minimiser's vector `t`.
GausParams ExternalParams(const Problem& pb, const gsl_vector* t) {
  const double internal[3] = {gsl_vector_get(t, 0), gsl_vector_get(t, 1), gsl_vector_get(t, 2)};
  return rootcompat::ExternalParams(pb, internal);
}

struct FitOptions {
  bool range = false;
  bool quiet = false;
  bool noDraw = false;
  bool noStore = false;
};

FitOptions ParseOptions(Option_t* option) {
  FitOptions opts;
  for (const char* c = option ? option : ""; *c; ++c) {
    switch (std::toupper(static_cast<unsigned char>(*c))) {
      case 'R': opts.range = true; break;
      case 'Q': opts.quiet = true; break;
      case '0': opts.noDraw = true; break;
      case 'N': opts.noStore = true; break;
      default: break;
    }
  }
  return opts;
}

// Bins first..last of the x axis (1..N, narrowed to [xmin, xmax] when
// xmin < xmax, by bin centre) with a positive error.
std::vector<FitPoint> SelectPoints(const TH1& h, Double_t xmin, Double_t xmax) {
  const TAxis& axis = *h.GetXaxis();
  Int_t first = axis.GetFirst();
  Int_t last = axis.GetLast();
  const bool useRange = xmin < xmax;
  if (useRange) {
    first = std::max(first, axis.FindFixBin(xmin));
    last = std::min(last, axis.FindFixBin(xmax));
  }
  std::vector<FitPoint> points;
  points.reserve(size_t(std::max(last - first + 1, 0)));
  for (Int_t bin = first; bin <= last; ++bin) {
    const Double_t x = axis.GetBinCenter(bin);
    if (useRange && (x < xmin || x > xmax)) continue;
    const Double_t error = h.GetBinError(bin);
    if (!(error > 0)) continue;
    points.push_back({bin, x, h.GetBinContent(bin), error});
  }
  return points;
}

// ROOT's start values for "gaus": constant, mean, rms of the points, and the
// sigma limit 10*rms.
void InitGaus(const std::vector<FitPoint>& points, TF1& f1) {
  static const double sqrtpi = 2.506628;
  const size_t n = points.size();
  double sumx = 0, sumx2 = 0, allcha = 0, valmax = 0;
  const double rangex = points.back().x - points.front().x;
  double binwidth = rangex > 0 ? rangex : 1;
  double x0 = 0;
  for (size_t i = 0; i < n; ++i) {
    const double val = points[i].y;
    const double x = points[i].x;
    sumx += val * x;
    sumx2 += val * x * x;
    allcha += val;
    if (val > valmax) valmax = val;
    if (i > 0 && x - x0 < binwidth) binwidth = x - x0;
    x0 = x;
  }
  if (allcha <= 0) return;
  const double mean = sumx / allcha;
  double rms = sumx2 / allcha - mean * mean;
  rms = rms > 0 ? std::sqrt(rms) : binwidth * double(n) / 4;
  const double constant = 0.5 * (valmax + binwidth * allcha / (sqrtpi * rms));
  f1.SetParameter(0, constant);
  f1.SetParameter(1, mean);
  f1.SetParameter(2, rms);
  f1.SetParLimits(2, 0, 10 * rms);
}

// Residuals (f(x) - y) / error; rows beyond the points (when there are fewer
// points than parameters) are zero. Called for every step of the minimiser:
// it writes the vector's storage directly.
int Residuals(const gsl_vector* t, void* data, gsl_vector* f) {
  auto& pb = *static_cast<Problem*>(data);
  const GausParams p = ExternalParams(pb, t);
  PointColumns& points = pb.columns;
  const double* g = points.GaussAtPoints(pb.grid.Values(p[1], p[2]));
  const double* y = points.Y();
  const double* error = points.Error();
  const size_t n = points.Size();
  double* out = f->data;
  if (f->stride == 1) {
    for (size_t i = 0; i < n; ++i) out[i] = (p[0] * g[i] - y[i]) / error[i];
  } else {
    for (size_t i = 0; i < n; ++i) out[i * f->stride] = (p[0] * g[i] - y[i]) / error[i];
  }
  for (size_t i = n; i < f->size; ++i) out[i * f->stride] = 0;
  return GSL_SUCCESS;
}

// Analytic Jacobian of the Gaussian residuals with respect to the internal
// parameters: its three columns computed whole, then written row by row into
// the matrix's storage.
int Jacobian(const gsl_vector* t, void* data, gsl_matrix* J) {
  auto& pb = *static_cast<Problem*>(data);
  double chain[3];
  for (size_t k = 0; k < 3; ++k) chain[k] = pb.map.Derivative(k, gsl_vector_get(t, k));
  rootcompat::FillJacobianColumns(pb, ExternalParams(pb, t), chain);
  const size_t n = pb.columns.Size();
  const double* d0 = pb.jacobian[0].data();
  const double* d1 = pb.jacobian[1].data();
  const double* d2 = pb.jacobian[2].data();
  for (size_t i = 0; i < n; ++i) {
    double* row = J->data + i * J->tda;
    row[0] = d0[i];
    row[1] = d1[i];
    row[2] = d2[i];
  }
  for (size_t i = n; i < J->size1; ++i) std::fill_n(J->data + i * J->tda, J->size2, 0.0);
  return GSL_SUCCESS;
}

// The minimisation by GSL's trust-region Levenberg-Marquardt solver.
FitOutcome MinimiseWithGsl(Problem& pb, const std::vector<double>& start) {
  const size_t npar = start.size();
  const size_t nres = std::max(pb.points->size(), npar);
  gsl_multifit_nlinear_fdf fdf{};
  fdf.f = Residuals;
  fdf.df = Jacobian;
  fdf.n = nres;
  fdf.p = npar;
  fdf.params = &pb;
  // Normal equations: with thousands of points and three parameters, a 3x3
  // Cholesky per step is far cheaper than a QR of the whole Jacobian; plain
  // Levenberg damping avoids the Jacobian column norms of every step.
  gsl_multifit_nlinear_parameters params = gsl_multifit_nlinear_default_parameters();
  params.solver = gsl_multifit_nlinear_solver_cholesky;
  params.scale = gsl_multifit_nlinear_scale_levenberg;
  gsl_multifit_nlinear_workspace* w =
      gsl_multifit_nlinear_alloc(gsl_multifit_nlinear_trust, &params, nres, npar);
  gsl_vector* t0 = gsl_vector_alloc(npar);
  for (size_t i = 0; i < npar; ++i) gsl_vector_set(t0, i, pb.map.Internal(i, start[i]));
  gsl_multifit_nlinear_init(t0, &fdf, w);
  int info = 0;
  const int status = gsl_multifit_nlinear_driver(1000, 1e-8, 1e-8, 0.0, nullptr, nullptr, &info, w);

  const GausParams fitted = ExternalParams(pb, w->x);
  FitOutcome out{status == GSL_SUCCESS ? 0 : 4, std::vector<double>(fitted.begin(), fitted.end()), {}, 0.0};
  gsl_blas_ddot(w->f, w->f, &out.chi2);
  out.errors = rootcompat::ParameterErrors(pb, fitted);
  gsl_vector_free(t0);
  gsl_multifit_nlinear_free(w);
  return out;
}

void PrintResult(const TF1& f1, const FitOutcome& out, Int_t ndf) {
  std::printf("\n****************************************\n");
  std::printf("Minimizer is GSL / Levenberg-Marquardt\n");
  std::printf("Chi2                      = %12.6g\n", out.chi2);
  std::printf("NDf                       = %12d\n", ndf);
  for (size_t i = 0; i < out.params.size(); ++i)
    std::printf("%-25s = %12.6g   +/-   %12.6g\n", f1.GetParName(Int_t(i)), out.params[i], out.errors[i]);
}

// GSL's error handler is one for the process: it is turned off while any
// thread fits (a failed step is an outcome of the fit, not an abort) and put
// back when the last one ends.
class GslErrorsReturned {
 public:
  GslErrorsReturned() {
    const std::lock_guard lock(Mutex());
    if (Fitting()++ == 0) Previous() = gsl_set_error_handler_off();
  }
  ~GslErrorsReturned() {
    const std::lock_guard lock(Mutex());
    if (--Fitting() == 0) gsl_set_error_handler(Previous());
  }
  GslErrorsReturned(const GslErrorsReturned&) = delete;
  GslErrorsReturned& operator=(const GslErrorsReturned&) = delete;

 private:
  static std::mutex& Mutex() {
    static std::mutex mutex;
    return mutex;
  }
  static int& Fitting() {
    static int fitting = 0;
    return fitting;
  }
  static gsl_error_handler_t*& Previous() {
    static gsl_error_handler_t* previous = nullptr;
    return previous;
  }
};

void StoreFunction(TList& functions, const TF1& f1, bool noDraw) {
  TIter next(&functions);
  std::vector<TObject*> old;
  while (TObject* obj = next())
    if (dynamic_cast<TF1*>(obj)) old.push_back(obj);
  for (TObject* obj : old) {
    functions.Remove(obj);
    delete obj;
  }
  auto* copy = static_cast<TF1*>(f1.Clone());
  if (noDraw) copy->SetBit(TF1::kNotDraw);
  functions.Add(copy);
}

}  // namespace

Int_t TH1::Fit(TF1* f1, Option_t* option, Option_t*, Double_t xmin, Double_t xmax) {
  if (!f1) {
    Error("Fit", "function may not be null pointer");
    return -1;
  }
  const FitOptions opts = ParseOptions(option);
  if (opts.range) f1->GetRange(xmin, xmax);
  const std::vector<FitPoint> points = SelectPoints(*this, xmin, xmax);
  if (points.empty()) {
    ::Warning("Fit", "Fit data is empty ");
    return -1;
  }
  const Int_t npar = f1->GetNpar();
  if (npar != 3 || std::string(f1->GetExpFormula()) != "gaus") {
    Error("Fit", "only the predefined \"gaus\" function can be fitted");
    return -1;
  }
  InitGaus(points, *f1);
  const TAxis& axis = *GetXaxis();
  const Int_t firstBin = points.front().bin;
  Problem pb{&points, firstBin,
             rootcompat::GaussGrid(axis.GetBinCenter(firstBin), axis.GetBinWidth(firstBin), size_t(points.back().bin - firstBin + 1)),
             rootcompat::ParameterMap{std::vector<double>(npar), std::vector<double>(npar)}, PointColumns(points, firstBin), {}};
  for (Int_t i = 0; i < npar; ++i) f1->GetParLimits(i, pb.map.lo[i], pb.map.hi[i]);
  std::vector<double> start(npar);
  for (Int_t i = 0; i < npar; ++i) start[i] = f1->GetParameter(i);

  const FitOutcome out = [&] {
    const GslErrorsReturned errorsReturned;
    return rootcompat::GetFitPath() == rootcompat::FitPath::fast ? rootcompat::MinimiseGaussian(pb, start)
                                                                  : MinimiseWithGsl(pb, start);
  }();

  const Int_t ndf = Int_t(points.size()) - npar;
  f1->SetParameters(out.params.data());
  f1->SetParErrors(out.errors.data());
  f1->SetChisquare(out.chi2);
  f1->SetNDF(ndf);
  if (!opts.quiet) {
    if (out.status != 0) ::Warning("Fit", "Abnormal termination of minimization.");
    PrintResult(*f1, out, ndf);
  }
  if (!opts.noStore) StoreFunction(*fFunctions, *f1, opts.noDraw);
  return out.status;
}
