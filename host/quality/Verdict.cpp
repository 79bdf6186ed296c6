#include "Verdict.h"

#include <algorithm>
#include <ctime>
#include <tuple>

namespace kivo::quality {

const char* verdict_name(Verdict verdict) {
  switch (verdict) {
    case Verdict::Null: return "Null";
    case Verdict::Good: return "Good";
    case Verdict::Medium: return "Medium";
    case Verdict::Bad: return "Bad";
  }
  return "Null";
}

Verdict worst(Verdict a, Verdict b) { return std::max(a, b); }

std::string describe(const Since& since) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(since.time);
  std::tm parts{};
  localtime_r(&seconds, &parts);
  char time[16];
  std::strftime(time, sizeof time, "%H:%M:%S", &parts);
  return "run " + std::to_string(since.run) + ", event " + std::to_string(since.event) + ", " + time;
}

namespace {

bool more_severe(const Result& a, const Result& b) {
  return std::tie(a.verdict, a.severity) > std::tie(b.verdict, b.severity);
}

}  // namespace

std::vector<Row> rows_of(const std::vector<TrackedResult>& results) {
  std::vector<Row> rows;
  for (const TrackedResult& tracked : results) {
    const Result& result = tracked.result;
    auto row = std::find_if(rows.begin(), rows.end(), [&result](const Row& r) {
      return r.shown.result.check == result.check && r.shown.result.stave == result.stave;
    });
    if (row == rows.end()) {
      rows.push_back({tracked, 0});
      continue;
    }
    const Result& shown = row->shown.result;
    const bool alarming = result.verdict >= Verdict::Medium;
    if (more_severe(result, shown)) {
      row->more = alarming && result.verdict == shown.verdict ? row->more + 1 : 0;
      row->shown = tracked;
    } else if (alarming && result.verdict == shown.verdict) {
      ++row->more;
    }
  }
  return rows;
}

Verdict combined(const std::vector<TrackedResult>& results, int stave) {
  Verdict verdict = Verdict::Null;
  for (const TrackedResult& tracked : results)
    if (stave == kNone || tracked.result.stave == stave) verdict = worst(verdict, tracked.result.verdict);
  return verdict;
}

}  // namespace kivo::quality
