#include "QualityLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <nlohmann/json.hpp>

#include "Checks.h"

namespace kivo::quality {

namespace {

nlohmann::ordered_json index_or_null(int value) {
  return value == kNone ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(value);
}

}  // namespace

std::string utc_timestamp(std::chrono::system_clock::time_point time) {
  const auto milliseconds =
      std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
  const std::time_t seconds = static_cast<std::time_t>(milliseconds / 1000);
  std::tm parts{};
  gmtime_r(&seconds, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts);
  return text + format(".%03dZ", static_cast<int>(milliseconds % 1000));
}

std::string log_line(const Change& change) {
  nlohmann::ordered_json line;
  line["time"] = utc_timestamp(change.since.time);
  line["run"] = change.since.run;
  line["event"] = change.since.event;
  line["check"] = change.result.check;
  line["stave"] = index_or_null(change.result.stave);
  line["chip"] = index_or_null(change.result.chip);
  line["old"] = verdict_name(change.old);
  line["new"] = verdict_name(change.result.verdict);
  line["reason"] = change.result.reason;
  return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

std::unique_ptr<QualityLog> QualityLog::open(const std::string& path, std::string& error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = path + ": cannot be opened for appending: " + std::strerror(errno);
    return nullptr;
  }
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
    ::close(fd);
    error = path + ": is a directory";
    return nullptr;
  }
  return std::unique_ptr<QualityLog>(new QualityLog(path, fd));
}

QualityLog::QualityLog(std::string path, int fd) : path_(std::move(path)), fd_(fd) {}

QualityLog::~QualityLog() { ::close(fd_); }

bool QualityLog::append(const Change& change, std::string& error) {
  const std::string line = log_line(change);
  std::size_t written = 0;
  while (written < line.size()) {
    const ssize_t count = ::write(fd_, line.data() + written, line.size() - written);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) {
      error = path_ + ": a verdict change could not be written: " + (count < 0 ? std::strerror(errno) : "nothing written");
      return false;
    }
    written += static_cast<std::size_t>(count);
  }
  return true;
}

}  // namespace kivo::quality
