// Reference comparison: the pixels-per-event and difference distributions
// since the last reset against the reference run's, by a chi-square test of
// the two histograms (both unweighted, as ROOT's Chi2Test "UU"). The
// smallest p-value of a stave's distributions decides.
#include <gsl/gsl_cdf.h>

#include <algorithm>
#include <cmath>

#include "Checks.h"

namespace kivo::quality {

namespace {

constexpr const char* kCheck = "reference";

struct Test {
  const char* name;
  const Bins* now;
  const Bins* reference;
};

// The p-value of two unweighted histograms holding the same distribution,
// over their in-range bins; nullopt when either has fewer than
// `min_entries` there or they share no filled bin.
std::optional<double> chi_square_p(const Bins& a, const Bins& b, double min_entries) {
  if (a.size() != b.size() || a.size() < 3) return std::nullopt;
  double total_a = 0, total_b = 0;
  for (std::size_t i = 1; i + 1 < a.size(); ++i) {
    total_a += a[i];
    total_b += b[i];
  }
  if (total_a < min_entries || total_b < min_entries) return std::nullopt;
  double chi2 = 0;
  int bins = 0;
  for (std::size_t i = 1; i + 1 < a.size(); ++i) {
    const double sum = a[i] + b[i];
    if (sum <= 0) continue;
    const double d = total_b * a[i] - total_a * b[i];
    chi2 += d * d / (sum * total_a * total_b);
    ++bins;
  }
  if (bins < 2) return 1.0;
  return gsl_cdf_chisq_Q(chi2, bins - 1);
}

Result judge_stave(const ReferenceConfig& config, const Reading& now, const ReferenceRun& reference, int stave) {
  const std::size_t index = static_cast<std::size_t>(stave);
  std::vector<Test> tests = {{"pixels per event", &now.staves[index].hits_per_event, &reference.hits_per_event[index]}};
  if (stave < kDifferenceStaves) {
    tests.push_back({"column difference", &now.column_differences[index], &reference.column_differences[index]});
    tests.push_back({"row difference", &now.row_differences[index], &reference.row_differences[index]});
  }
  Result result{kCheck, stave, kNone, Verdict::Null, "", 0};
  std::string values;
  double smallest = 1;
  bool any = false;
  for (const Test& test : tests) {
    const std::optional<double> p = chi_square_p(*test.now, *test.reference, config.min_entries);
    values += (values.empty() ? "" : ", ") + std::string(test.name) + (p ? format(" p = %.2g", *p) : " not judged");
    if (!p) continue;
    any = true;
    smallest = std::min(smallest, *p);
  }
  if (any) {
    result.verdict = judge_limit(smallest, config.medium_p, config.bad_p, true);
    result.severity = -std::log10(std::max(smallest, 1e-300));
  }
  const std::string needs = any ? "" : format(" (each needs %.0f entries here and in the reference)", config.min_entries);
  result.reason = format("stave %d: ", stave) + values + needs + " against " + reference.path;
  return result;
}

}  // namespace

std::vector<Result> judge_reference(const Context& context) {
  std::vector<Result> results;
  for (int s = 0; s < kStaves; ++s) {
    if (context.reference) {
      results.push_back(judge_stave(context.config.reference, context.now, *context.reference, s));
    } else {
      results.push_back({kCheck, s, kNone, Verdict::Null,
                         format("stave %d: no reference run loaded (--reference FILE or reference(\"FILE\"))", s), 0});
    }
  }
  return results;
}

}  // namespace kivo::quality
