// The least-squares problem of a Gaussian fit to histogram bins, shared by the
// two minimisers of TH1::Fit: the selected points, the mapping of bounded
// parameters, the Gaussian evaluated on the bin grid, and the parameter errors
// of a result.
#ifndef ROOTCOMPAT_GAUSSPROBLEM_H
#define ROOTCOMPAT_GAUSSPROBLEM_H

#include <array>
#include <cstddef>
#include <vector>

#include "RtypesCore.h"

namespace rootcompat {

struct FitPoint {
  Int_t bin;
  Double_t x;
  Double_t y;
  Double_t error;
};

// Internal (unbounded) <-> external parameters. A parameter with limits
// lo < hi is lo + (hi - lo) * (sin(t) + 1) / 2, as Minuit does.
struct ParameterMap {
  std::vector<double> lo;
  std::vector<double> hi;

  bool Bounded(size_t i) const;
  double External(size_t i, double t) const;
  double Internal(size_t i, double p) const;
  // d External / d t.
  double Derivative(size_t i, double t) const;
};

// exp(-0.5*((x - mean)/sigma)^2) at the centres of consecutive equal-width
// bins. Going out from the bin nearest the mean, each value is the previous
// one times a ratio that itself changes by a constant factor, so a pass costs
// two multiplications per bin; an exact exponential re-seeds it every
// kReseed bins to bound the rounding drift. The stretches between re-seeds
// do not depend on each other and are worked through side by side.
class GaussGrid {
 public:
  GaussGrid(double firstCentre, double width, size_t size);

  const std::vector<double>& Values(double mean, double sigma);

 private:
  static constexpr long kReseed = 256;
  static constexpr int kLanes = 8;

  double Centre(long k) const;
  double Exact(long k) const;
  // Value at k + step over value at k, step = +1 or -1.
  double Ratio(long k, int step, double s2) const;
  // The values from bin `c` outwards in direction `step`, each stretch of
  // kReseed bins starting from its exact value.
  void FillFrom(long c, int step, double s2, double q);

  double fX0;
  double fWidth;
  std::vector<double> fValues;
  bool fValid = false;
  double fMean = 0;
  double fSigma = 0;
};

// The selected points as columns, so that the loops over them run on whole
// registers, and the Gaussian of the grid at each point.
class PointColumns {
 public:
  PointColumns(const std::vector<FitPoint>& points, Int_t firstBin);

  size_t Size() const { return fX.size(); }
  const double* X() const { return fX.data(); }
  const double* Y() const { return fY.data(); }
  const double* Error() const { return fError.data(); }

  // The grid's values at the points: the grid itself when the points are
  // consecutive bins, else the values picked out of it.
  const double* GaussAtPoints(const std::vector<double>& grid);

 private:
  std::vector<double> fX, fY, fError;
  std::vector<size_t> fCell;  // bin - first bin
  bool fContiguous = true;
  std::vector<double> fGaussAtPoints;
};

// The selected points of a Gaussian fit, its parameter mapping and room for
// the Jacobian's columns.
struct Problem {
  const std::vector<FitPoint>* points;
  Int_t firstBin;
  GaussGrid grid;
  ParameterMap map;
  PointColumns columns;
  std::array<std::vector<double>, 3> jacobian;
};

// The three Gaussian parameters (constant, mean, sigma).
using GausParams = std::array<double, 3>;

// The external parameters of internal parameters t[0..2].
GausParams ExternalParams(const Problem& pb, const double* t);

// The Jacobian's three columns at parameters `p` into pb.jacobian, each
// multiplied by its chain factor (the derivative of the external parameter by
// the one the minimiser varies).
void FillJacobianColumns(Problem& pb, const GausParams& p, const double (&chain)[3]);

// Errors of the fitted parameters: square roots of the diagonal of the
// inverse of J^T J, J the Jacobian of the residuals in the parameters
// themselves; zero when that matrix is singular.
std::vector<double> ParameterErrors(Problem& pb, const GausParams& p);

struct FitOutcome {
  int status;  // 0 converged, 4 not
  std::vector<double> params;
  std::vector<double> errors;
  double chi2;
};

}  // namespace rootcompat

#endif
