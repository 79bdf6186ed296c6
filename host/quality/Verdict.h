// Verdicts of the data-quality checks and the results that carry them.
#ifndef KIVO_HOST_QUALITY_VERDICT_H
#define KIVO_HOST_QUALITY_VERDICT_H

#include <chrono>
#include <string>
#include <vector>

namespace kivo::quality {

// Ordered from least to most severe: combining takes the most severe, so
// Null (too few events to judge) only wins when every input is Null.
enum class Verdict { Null, Good, Medium, Bad };

const char* verdict_name(Verdict verdict);
Verdict worst(Verdict a, Verdict b);

// Stave or chip not applicable to a result (a check of the whole detector).
inline constexpr int kNone = -1;

// One check's verdict for one stave (and chip), with one line of reason that
// holds the numbers. `severity` orders results of the same verdict: the row
// shown for a stave is the most suspect of its chips.
// `unit`, when not kNone, is the readout unit whose loss explains the
// result: it is raised as one alarm with the unit's other results.
struct Result {
  std::string check;
  int stave = kNone;
  int chip = kNone;
  Verdict verdict = Verdict::Null;
  std::string reason;
  double severity = 0;
  int unit = kNone;
};

// When a verdict took its current value.
struct Since {
  int run = 0;
  long event = 0;  // data events of the run
  std::chrono::system_clock::time_point time;
};

// "run 1, event 2001, 15:13:04" (local time).
std::string describe(const Since& since);

// A result as shown and since when its verdict holds, and a different
// verdict the checks have given it lately, not yet confirmed: how many
// judgements in a row gave it.
struct TrackedResult {
  Result result;
  Since since;
  Verdict pending = Verdict::Null;
  int pending_judgements = 0;
};

// The row shown for one check and stave: its most severe result, and how
// many other results of that check and stave share a Medium or Bad verdict.
struct Row {
  TrackedResult shown;
  int more = 0;
};

// Groups results by check and stave, in the order of their first result.
std::vector<Row> rows_of(const std::vector<TrackedResult>& results);

// The most severe verdict among `results` for stave `stave` (kNone: all).
Verdict combined(const std::vector<TrackedResult>& results, int stave = kNone);

}  // namespace kivo::quality

#endif
