// Synchronisation: whether each stave records the same events as the others.
// Each stave's mean position per event (hot pixels left out) is compared with
// stave 3's and stave 2's at lags -2..+2; staves in step have their sharpest
// difference peak at lag 0, and a stave whose hits belong to the event before
// has it at lag -1 against the others. Every pair of staves that shows a peak
// says by how many events the two differ; the staves out of step are those
// that the fewest pairs contradict, with as many staves in step as can be.
// A pair without a peak at any lag says nothing: a dead chip or stave, a
// sparse beam or heavy noise flatten the differences without any stave
// being out of step.
#include <algorithm>
#include <cmath>
#include <limits>
#include <tuple>
#include <utility>

#include "Checks.h"
#include "LagDifferences.h"

namespace kivo::quality {

namespace {

constexpr const char* kCheck = "synchronisation";

// The pairs judged: each stave against stave 3 and against stave 2.
constexpr std::pair<int, int> kPairs[] = {{0, 3}, {1, 3}, {2, 3}, {0, 2}, {1, 2}, {3, 2}};

enum class Step { None, InStep, Out };

// What one pair's distributions say. Out: the reference's events are `lag`
// events on from the stave's (the stave's delay minus the reference's is
// -lag).
struct Statement {
  Step step = Step::None;
  int lag = 0;
  Verdict verdict = Verdict::Null;
  int axis = kColumnAxis;
  double strength = 0;  // standard deviations of the share that decides
  double ratio = 0;     // Out: the lag's share over lag 0's
};

Statement axis_statement(const LagAxis& lags, int axis, const SynchronisationConfig& config) {
  if (!lags.stands_out) return {};
  const auto above = [&lags](int lag, int other) {
    return significance(lags.share(lag), lags.entries_at(lag), lags.share(other), lags.entries_at(other));
  };
  if (lags.best == 0) return {Step::InStep, 0, Verdict::Good, axis, above(0, lags.median), 0};
  const double strength = above(lags.best, 0);
  const double ratio =
      lags.share(0) > 0 ? lags.share(lags.best) / lags.share(0) : std::numeric_limits<double>::infinity();
  const Verdict verdict = judge_limit(ratio, config.medium_ratio, config.bad_ratio, false);
  if (strength >= config.min_significance && verdict != Verdict::Good)
    return {Step::Out, lags.best, verdict, axis, strength, ratio};
  if (stands_out(lags, 0, config.peak_ratio, config.min_significance))
    return {Step::InStep, 0, Verdict::Good, axis, above(0, lags.median), 0};
  return {};
}

// A lag other than 0 on either axis speaks first; of two alike the stronger.
Statement pair_statement(const LagPair& pair, const SynchronisationConfig& config) {
  if (pair.entries < config.min_events) return {};
  const Statement columns = axis_statement(pair.axes[kColumnAxis], kColumnAxis, config);
  const Statement rows = axis_statement(pair.axes[kRowAxis], kRowAxis, config);
  const auto rank = [](const Statement& s) { return s.step == Step::Out ? 2 : s.step == Step::InStep ? 1 : 0; };
  if (rank(columns) != rank(rows)) return rank(columns) > rank(rows) ? columns : rows;
  return columns.strength >= rows.strength ? columns : rows;
}

// A pair that spoke: the delay of `reference` minus that of `stave` is `lag`.
struct Edge {
  const LagPair* pair;
  Statement statement;
  int stave, reference, lag;
  int other(int s) const { return s == stave ? reference : stave; }
  bool touches(int s) const { return s == stave || s == reference; }
};

// Each stave's delay in events (late when positive), chosen so that the most
// edges hold, then the most staves are in step, then the delays are least;
// a stave is ambiguous when equally good choices give it different delays.
struct Delays {
  std::array<int, kStaves> events{};
  std::array<bool, kStaves> ambiguous{};
};

Delays solve(const std::vector<Edge>& edges) {
  constexpr int kChoices = 2 * kMaxLag + 1;
  int assignments = 1;
  for (int s = 0; s < kStaves; ++s) assignments *= kChoices;
  std::tuple<int, int, int> best{-1, 0, 0};
  Delays delays;
  for (int code = 0; code < assignments; ++code) {
    std::array<int, kStaves> k{};
    for (int s = 0, rest = code; s < kStaves; ++s, rest /= kChoices)
      k[static_cast<std::size_t>(s)] = rest % kChoices - kMaxLag;
    int held = 0, in_step = 0, spread = 0;
    for (const Edge& edge : edges)
      held += k[static_cast<std::size_t>(edge.reference)] - k[static_cast<std::size_t>(edge.stave)] == edge.lag;
    for (int delay : k) {
      in_step += delay == 0;
      spread += std::abs(delay);
    }
    const std::tuple<int, int, int> score{held, in_step, -spread};
    if (score > best) {
      best = score;
      delays.events = k;
      delays.ambiguous.fill(false);
    } else if (score == best) {
      for (std::size_t s = 0; s < kStaves; ++s) delays.ambiguous[s] |= k[s] != delays.events[s];
    }
  }
  return delays;
}

std::string events_text(int count) {
  return count == 1 ? "one event" : count == 2 ? "two events" : format("%d events", count);
}

std::string staves_text(const std::vector<int>& staves) {
  if (staves.size() == 1) return format("stave %d", staves[0]);
  std::string text = "staves ";
  for (std::size_t i = 0; i < staves.size(); ++i)
    text += (i == 0 ? "" : i + 1 == staves.size() ? " and " : ", ") + std::to_string(staves[i]);
  return text;
}

double near_of(const SynchronisationConfig& config, int axis) {
  return axis == kColumnAxis ? config.near_columns : config.near_rows;
}

std::string evidence(const Edge& edge, const SynchronisationConfig& config) {
  const LagAxis& lags = edge.pair->axes[static_cast<std::size_t>(edge.statement.axis)];
  const char* axis = axis_name(edge.statement.axis);
  std::string text = format("%s differences of stave %d against stave %d: ", axis, edge.stave, edge.reference);
  if (edge.statement.step == Step::Out)
    return text + format("%.0f%% of entries within %g %ss of the peak at lag %+d, %.0f%% in the same event",
                         100 * lags.share(edge.lag), near_of(config, edge.statement.axis), axis, edge.lag,
                         100 * lags.share(0));
  double others = 0;
  for (int lag = -kMaxLag; lag <= kMaxLag; ++lag)
    if (lag != 0) others = std::max(others, lags.share(lag));
  return text + format("%.0f%% of entries within %g %ss of the peak in the same event, at most %.0f%% at another lag",
                       100 * lags.share(0), near_of(config, edge.statement.axis), axis, 100 * others);
}

const Edge* strongest(const std::vector<const Edge*>& edges) {
  const Edge* found = nullptr;
  for (const Edge* edge : edges)
    if (!found || edge->statement.strength > found->statement.strength) found = edge;
  return found;
}

std::vector<int> others_of(const std::vector<const Edge*>& edges, int stave) {
  std::vector<int> others;
  for (const Edge* edge : edges) others.push_back(edge->other(stave));
  std::sort(others.begin(), others.end());
  others.erase(std::unique(others.begin(), others.end()), others.end());
  return others;
}

class Judgement {
 public:
  Judgement(const Context& context, const std::vector<LagPair>& pairs, const std::vector<Edge>& edges)
      : config_(context.config.synchronisation), pairs_(pairs), edges_(edges), delays_(solve(edges)) {}

  Result judge(int stave) const {
    Result result{kCheck, stave, kNone, Verdict::Null, "", 0};
    std::vector<const Edge*> touching;
    for (const Edge& edge : edges_)
      if (edge.touches(stave)) touching.push_back(&edge);
    if (touching.empty()) {
      result.reason = cannot_judge(stave);
    } else if (delays_.ambiguous[static_cast<std::size_t>(stave)]) {
      ambiguous(stave, touching, result);
    } else if (delay(stave) == 0) {
      in_step(stave, touching, result);
    } else {
      out_of_step(stave, touching, result);
    }
    return result;
  }

 private:
  int delay(int stave) const { return delays_.events[static_cast<std::size_t>(stave)]; }

  // The edges of `stave` that its delay explains against staves in step.
  std::vector<const Edge*> explained(int stave, const std::vector<const Edge*>& touching, bool in_step) const {
    std::vector<const Edge*> found;
    for (const Edge* edge : touching) {
      const int other = edge->other(stave);
      const bool holds = delay(edge->reference) - delay(edge->stave) == edge->lag;
      if (holds && delay(other) == 0 && (edge->lag == 0) == in_step) found.push_back(edge);
    }
    return found;
  }

  void in_step(int stave, const std::vector<const Edge*>& touching, Result& result) const {
    result.verdict = Verdict::Good;
    const std::vector<const Edge*> agreeing = explained(stave, touching, true);
    if (!agreeing.empty()) {
      result.reason = format("stave %d: in step with ", stave) + staves_text(others_of(agreeing, stave)) + " (" +
                      evidence(*strongest(agreeing), config_) + ")";
      return;
    }
    const Edge* edge = strongest(touching);
    result.reason = format("stave %d: in step; its differences against stave %d show stave %d out of step (", stave,
                           edge->other(stave), edge->other(stave)) +
                    evidence(*edge, config_) + ")";
  }

  void out_of_step(int stave, const std::vector<const Edge*>& touching, Result& result) const {
    const int events = delay(stave);
    std::vector<const Edge*> matching = explained(stave, touching, false);
    const bool against_others_in_step = !matching.empty();
    if (!against_others_in_step)
      for (const Edge* edge : touching)
        if (edge->statement.step == Step::Out) matching.push_back(edge);
    if (matching.empty()) matching = touching;
    const Edge* edge = strongest(matching);
    for (const Edge* e : matching) {
      result.verdict = worst(result.verdict, e->statement.verdict);
      result.severity = std::max(result.severity, e->statement.ratio);
    }
    const std::string how =
        format("stave %d is ", stave) + events_text(std::abs(events)) + (events > 0 ? " late" : " early");
    if (!against_others_in_step) {
      result.reason = how + " (" + evidence(*edge, config_) + ")";
      return;
    }
    const std::vector<int> others = others_of(matching, stave);
    const std::string whose = others.size() == 1 ? format("stave %d's", others[0]) : "those of " + staves_text(others);
    const std::string when = std::abs(events) == 1
                                 ? (events > 0 ? "the event before" : "the event after")
                                 : events_text(std::abs(events)) + (events > 0 ? " before" : " after");
    result.reason = how + ": its hits match " + whose + " of " + when + " (" + evidence(*edge, config_) + ")";
  }

  void ambiguous(int stave, const std::vector<const Edge*>& touching, Result& result) const {
    std::vector<const Edge*> apart;
    for (const Edge* edge : touching)
      if (edge->statement.step == Step::Out) apart.push_back(edge);
    if (apart.empty()) {
      result.reason = format("stave %d: whether it is in step cannot be told: as many staves agree with either", stave);
      return;
    }
    const Edge* edge = strongest(apart);
    result.verdict = edge->statement.verdict;
    result.severity = edge->statement.ratio;
    result.reason = format("stave %d and stave %d are ", stave, edge->other(stave)) +
                    events_text(std::abs(edge->lag)) + " apart (" + evidence(*edge, config_) +
                    "); which of them is out of step cannot be told: as many staves agree with either";
  }

  // Why no pair of `stave` spoke: too few entries, or no peak at any lag.
  std::string cannot_judge(int stave) const {
    const LagPair* fullest = nullptr;
    std::vector<int> counted;
    for (const LagPair& pair : pairs_) {
      if (pair.stave != stave && pair.reference != stave) continue;
      if (!fullest || pair.entries > fullest->entries) fullest = &pair;
      if (pair.entries >= config_.min_events) counted.push_back(pair.stave == stave ? pair.reference : pair.stave);
    }
    const int other = fullest->stave == stave ? fullest->reference : fullest->stave;
    if (counted.empty())
      return format("stave %d: %.0f events with hits on both stave %d and stave %d in the window, %.0f needed", stave,
                    fullest->entries, stave, other, config_.min_events);
    std::string shares;
    for (int axis : {kRowAxis, kColumnAxis}) {
      const LagAxis& lags = fullest->axes[static_cast<std::size_t>(axis)];
      shares += format("%s%ss: %.0f%% of entries near the peak ", axis == kRowAxis ? "" : "; ", axis_name(axis),
                       100 * lags.share(lags.best)) +
                (lags.best == 0 ? std::string("in the same event")
                                : format("at lag %+d, %.0f%% in the same event", lags.best, 100 * lags.share(0))) +
                format(", %.0f%% at the median lag", 100 * lags.share(lags.median));
    }
    std::sort(counted.begin(), counted.end());
    counted.erase(std::unique(counted.begin(), counted.end()), counted.end());
    return format("stave %d: no lag holds a clear peak against ", stave) + staves_text(counted) +
           format(" (stave %d against stave %d, ", fullest->stave, fullest->reference) + shares +
           "): too few hits, a dead stave or chip, heavy noise, or a change of step within the window";
  }

  const SynchronisationConfig& config_;
  const std::vector<LagPair>& pairs_;
  const std::vector<Edge>& edges_;
  Delays delays_;
};

}  // namespace

std::vector<Result> judge_synchronisation(const Context& context) {
  const SynchronisationConfig& config = context.config.synchronisation;
  const LagSettings settings{config.window_events, config.near_columns, config.near_rows, config.peak_ratio,
                             config.min_significance, false, false, config.min_events};
  std::vector<LagPair> pairs;
  for (const auto& [stave, reference] : kPairs) pairs.push_back(measure_lags(context, stave, reference, settings));
  std::vector<Edge> edges;
  for (const LagPair& pair : pairs) {
    const Statement statement = pair_statement(pair, config);
    if (statement.step != Step::None)
      edges.push_back({&pair, statement, pair.stave, pair.reference, statement.step == Step::Out ? statement.lag : 0});
  }
  const Judgement judgement(context, pairs, edges);
  std::vector<Result> results;
  for (int s = 0; s < kStaves; ++s) results.push_back(judgement.judge(s));
  return results;
}

}  // namespace kivo::quality
