// The fast minimiser of a Gaussian fit, and the choice between it and GSL's.
#ifndef ROOTCOMPAT_GAUSSLEASTSQUARES_H
#define ROOTCOMPAT_GAUSSLEASTSQUARES_H

#include <vector>

#include "GaussProblem.h"

namespace rootcompat {

enum class FitPath { fast, reference };

// The minimiser TH1::Fit uses: the fast one, unless the environment variable
// KIVO_KERNELS held "reference" when the library was loaded (GSL's solver
// then), or SetFitPath chose.
FitPath GetFitPath();
void SetFitPath(FitPath path);

// The steps of GSL's trust-region Levenberg-Marquardt solver as TH1::Fit sets
// it up (normal equations by Cholesky decomposition, Levenberg damping of the
// identity, Nielsen's damping updates, step and gradient tolerances 1e-8, at
// most 1000 iterations), from internal start values of `start`. Each trial
// point costs one pass over the points, which gives the residuals' sum of
// squares, the Jacobian, J^T J and J^T f together; the results differ from
// GSL's by rounding only.
FitOutcome MinimiseGaussian(Problem& pb, const std::vector<double>& start);

}  // namespace rootcompat

#endif
