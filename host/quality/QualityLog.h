// --quality-log FILE: one JSON line per verdict change, appended. The file is
// opened for appending (never truncated) and each line goes out in one write,
// at once, so a crash of kivo leaves every line before it whole.
#ifndef KIVO_HOST_QUALITY_QUALITY_LOG_H
#define KIVO_HOST_QUALITY_QUALITY_LOG_H

#include <memory>
#include <string>

#include "Verdict.h"

namespace kivo::quality {

// A verdict that changed: the result now, since when, and the verdict before.
struct Change {
  const Result& result;
  const Since& since;
  Verdict old;
};

// {"time":"2024-05-01T12:00:03.250Z","run":1,"event":5000,"check":"occupancy",
//  "stave":2,"chip":5,"old":"Good","new":"Bad","reason":"..."} and a newline;
// stave and chip are null where they do not apply.
std::string log_line(const Change& change);

class QualityLog {
 public:
  // Opens (creates) `path` for appending; null with `error` naming it and why.
  static std::unique_ptr<QualityLog> open(const std::string& path, std::string& error);
  ~QualityLog();
  QualityLog(const QualityLog&) = delete;
  QualityLog& operator=(const QualityLog&) = delete;

  // False with `error` naming the file when the line could not be written whole.
  bool append(const Change& change, std::string& error);
  const std::string& path() const { return path_; }

 private:
  QualityLog(std::string path, int fd);

  std::string path_;
  int fd_;
};

// "2024-05-01T12:00:03.250Z"
std::string utc_timestamp(std::chrono::system_clock::time_point time);

}  // namespace kivo::quality

#endif
