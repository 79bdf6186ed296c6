// The two minimisers of TH1::Fit (GSL's and the one-pass fast path) reach the
// same fit, and the Gaussian grid both evaluate holds the Gaussian at every bin.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "GaussLeastSquares.h"
#include "GaussProblem.h"
#include "TF1.h"
#include "TH1D.h"

namespace {

using rootcompat::FitPath;

struct FitResult {
  int status;
  double params[3];
  double errors[3];
  double chi2;
};

FitResult FitOn(FitPath path, TH1D& h, double lo, double hi) {
  const FitPath before = rootcompat::GetFitPath();
  rootcompat::SetFitPath(path);
  TF1 f("paths_f", "gaus", lo, hi);
  FitResult result{static_cast<int>(h.Fit(&f, "RQ0N", "", 0, 0)), {}, {}, f.GetChisquare()};
  rootcompat::SetFitPath(before);
  for (int i = 0; i < 3; ++i) {
    result.params[i] = f.GetParameter(i);
    result.errors[i] = f.GetParError(i);
  }
  return result;
}

// A histogram of `bins` bins over [-0.5, bins - 0.5] whose bin b (from 0)
// holds content(b).
void Fill(TH1D& h, const std::function<double(int)>& content) {
  for (int b = 0; b < h.GetNbinsX(); ++b) h.SetBinContent(b + 1, content(b));
}

double Gauss(double x, double mean, double sigma) {
  const double u = (x - mean) / sigma;
  return std::exp(-0.5 * u * u);
}

struct Case {
  std::string name;
  int bins;
  std::function<double(int)> content;
  double lo, hi;
};

// Profiles as the beam fits meet them: a clean peak, a peak on a noise floor
// over the whole axis (thousands of points), sparse data with empty bins
// left out of the fit, the tail of a beam beyond the axis, flat data that
// pushes sigma to its bound.
std::vector<Case> Cases() {
  std::mt19937 rng(5);
  std::poisson_distribution<int> floor(40);
  std::vector<double> noise(9216);
  for (double& n : noise) n = floor(rng);
  std::uniform_real_distribution<double> unit(0, 1);
  std::vector<double> sparse(512);
  for (int b = 0; b < 512; ++b) sparse[b] = unit(rng) < 0.3 ? std::round(20 * Gauss(b, 250, 40) + 1) : 0;
  return {
      {"clean", 1024, [](int b) { return std::round(5000 * Gauss(b, 300.3, 20)); }, 0, 1023},
      {"floor", 9216, [noise](int b) { return noise[b] + std::round(30 * Gauss(b, 4650, 300)); }, -0.5, 9215.5},
      {"sparse", 512, [sparse](int b) { return sparse[b]; }, -0.5, 511.5},
      {"tail", 9216, [](int b) { return 1e9 * Gauss(b, 9400, 40); }, 9000, 9215.5},
      {"flat", 200, [](int) { return 7.0; }, -0.5, 199.5},
  };
}

TEST(FitPaths, FastAndReferenceReachTheSameFit) {
  for (const Case& c : Cases()) {
    TH1D h(("paths_" + c.name).c_str(), "", c.bins, -0.5, c.bins - 0.5);
    Fill(h, c.content);
    const FitResult fast = FitOn(FitPath::fast, h, c.lo, c.hi);
    const FitResult reference = FitOn(FitPath::reference, h, c.lo, c.hi);
    EXPECT_EQ(fast.status, reference.status) << c.name;
    for (int i = 0; i < 3; ++i) {
      const double tolerance = 1e-9 * std::max(std::fabs(reference.params[i]), 1.0);
      EXPECT_NEAR(fast.params[i], reference.params[i], tolerance) << c.name << " parameter " << i;
      EXPECT_NEAR(fast.errors[i], reference.errors[i], 1e-5 * std::max(reference.errors[i], 1e-12))
          << c.name << " error " << i;
    }
    EXPECT_NEAR(fast.chi2, reference.chi2, 1e-6 * std::max(reference.chi2, 1e-12)) << c.name;
  }
}

TEST(FitPaths, EnvironmentChoosesTheReferencePath) {
  // The tests run without KIVO_KERNELS unless the reference path is asked for.
  const char* chosen = std::getenv("KIVO_KERNELS");
  const FitPath expected =
      chosen && std::string(chosen) == "reference" ? FitPath::reference : FitPath::fast;
  EXPECT_EQ(rootcompat::GetFitPath(), expected);
}

// Every bin of grids that end inside, on and past the groups of stretches the
// grid fills side by side, with the mean inside, on the edge of and beyond
// the bins.
TEST(GaussGridValues, EveryBinHoldsTheGaussian) {
  for (size_t size : {size_t(1), size_t(2), size_t(255), size_t(256), size_t(257), size_t(2048), size_t(2049),
                      size_t(9216)}) {
    for (double mean : {-40.0, 0.0, 0.4 * double(size), double(size) - 1, double(size) + 25}) {
      for (double sigma : {3.0, 300.0}) {
        rootcompat::GaussGrid grid(0.0, 1.0, size);
        const std::vector<double>& values = grid.Values(mean, sigma);
        ASSERT_EQ(values.size(), size);
        for (size_t k = 0; k < size; ++k) {
          const double exact = Gauss(double(k), mean, sigma);
          ASSERT_NEAR(values[k], exact, 1e-11 * exact + 1e-300)
              << "size " << size << " mean " << mean << " sigma " << sigma << " bin " << k;
        }
      }
    }
  }
}

}  // namespace
