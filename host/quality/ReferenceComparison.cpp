// Reference comparison: the shapes of each stave's pixels-per-event
// distribution and of its hits per column and per row (hot pixels left out
// on both sides, the profiles in groups of columns and rows) against the
// reference run's. Two runs of the same conditions never have exactly the
// same shapes, and with enough events any difference is significant: a
// shape is flagged only when it differs by more than a distance (the share
// of entries that would have to move to make the shapes equal) AND a
// chi-square test of the two histograms says the difference is real. So two
// healthy runs stay Good at any length, while a changed noise, intensity or
// beam spot is not.
#include <gsl/gsl_cdf.h>

#include <algorithm>
#include <cmath>

#include "Checks.h"

namespace kivo::quality {

namespace {

constexpr const char* kCheck = "reference";
constexpr std::size_t kColumnGroup = 32;  // double columns: 64 columns
constexpr std::size_t kRowGroup = 8;

struct Comparison {
  double distance = 0;  // half the sum of the shapes' differences, 0 to 1
  double p = 1;         // chi-square probability of the same shape
};

// Bins 1..n of `bins` (a histogram with under- and overflow).
Bins in_range(const Bins& bins) {
  return bins.size() < 3 ? Bins() : Bins(bins.begin() + 1, bins.end() - 1);
}

Bins grouped(const std::vector<double>& values, std::size_t size) {
  Bins groups((values.size() + size - 1) / size, 0.0);
  for (std::size_t i = 0; i < values.size(); ++i) groups[i / size] += values[i];
  return groups;
}

// The shapes of two histograms of the same binning; nullopt when either has
// fewer than `min_entries`.
std::optional<Comparison> compare_shapes(const Bins& a, const Bins& b, double min_entries) {
  if (a.size() != b.size() || a.empty()) return std::nullopt;
  double total_a = 0, total_b = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    total_a += std::max(0.0, a[i]);
    total_b += std::max(0.0, b[i]);
  }
  if (total_a < min_entries || total_b < min_entries) return std::nullopt;
  Comparison result;
  double chi2 = 0;
  int bins = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const double x = std::max(0.0, a[i]), y = std::max(0.0, b[i]);
    result.distance += 0.5 * std::fabs(x / total_a - y / total_b);
    if (x + y <= 0) continue;
    const double d = total_b * x - total_a * y;
    chi2 += d * d / ((x + y) * total_a * total_b);
    ++bins;
  }
  result.p = bins < 2 ? 1.0 : gsl_cdf_chisq_Q(chi2, bins - 1);
  return result;
}

// A distance limit reached at the last judgement (`before`) holds until the
// distance is back by kLimitMargin of it.
Verdict judge_comparison(const ReferenceConfig& config, const Comparison& c, Verdict before) {
  const double bad = config.bad_distance * (before >= Verdict::Bad ? 1 - kLimitMargin : 1);
  const double medium = config.medium_distance * (before >= Verdict::Medium ? 1 - kLimitMargin : 1);
  if (c.distance > bad && c.p < config.bad_p) return Verdict::Bad;
  if (c.distance > medium && c.p < config.medium_p) return Verdict::Medium;
  return Verdict::Good;
}

Result judge_stave(const ReferenceConfig& config, const Reading& now, const ReferenceRun& reference, int stave,
                   LimitHolds& holds) {
  const std::size_t index = static_cast<std::size_t>(stave);
  const HitProfiles current = profiles_without_hot_pixels(now.staves[index]);
  const HitProfiles& then = reference.profiles[index];
  struct Test {
    const char* name;
    Bins now, reference;
  };
  std::vector<Test> tests = {
      {"pixels per event", in_range(now.staves[index].hits_per_event), in_range(reference.hits_per_event[index])}};
  if (!then.double_columns.empty()) {
    tests.push_back({"hits per column", grouped(current.double_columns, kColumnGroup),
                     grouped(then.double_columns, kColumnGroup)});
    tests.push_back({"hits per row", grouped(current.rows, kRowGroup), grouped(then.rows, kRowGroup)});
  }
  Result result{kCheck, stave, kNone, Verdict::Null, "", 0};
  std::string values;
  for (std::size_t t = 0; t < tests.size(); ++t) {
    const Test& test = tests[t];
    const long place = static_cast<long>(t);
    const std::optional<Comparison> c = compare_shapes(test.now, test.reference, config.min_entries);
    values += (values.empty() ? "" : ", ") + std::string(test.name) +
              (c ? format(" differ by %.1f%% (p = %.2g)", 100 * c->distance, c->p) : " not judged");
    if (!c) {
      holds.keep(kCheck, stave, kNone, place, Verdict::Good);
      continue;
    }
    const Verdict verdict = judge_comparison(config, *c, holds.last(kCheck, stave, kNone, place));
    holds.keep(kCheck, stave, kNone, place, verdict);
    result.verdict = worst(result.verdict, verdict);
    result.severity = std::max(result.severity, c->distance);
  }
  const std::string needs =
      result.verdict == Verdict::Null ? format(" (each needs %.0f entries here and in the reference)", config.min_entries)
                                      : "";
  const std::string without_profiles = then.double_columns.empty() ? " (it holds no hit profiles)" : "";
  result.reason = format("stave %d: ", stave) + values + needs + " against " + reference.path + without_profiles;
  return result;
}

}  // namespace

std::vector<Result> judge_reference(const Context& context) {
  std::vector<Result> results;
  for (int s = 0; s < kStaves; ++s) {
    if (context.reference) {
      results.push_back(judge_stave(context.config.reference, context.now, *context.reference, s, context.memory.holds));
    } else {
      results.push_back({kCheck, s, kNone, Verdict::Null,
                         format("stave %d: no reference run loaded (--reference FILE or reference(\"FILE\"))", s), 0});
    }
  }
  return results;
}

}  // namespace kivo::quality
