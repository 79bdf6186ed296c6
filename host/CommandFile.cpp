#include "CommandFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "Prompt.h"

namespace kivo::host {

namespace {

constexpr std::size_t kReadBytes = 64 * 1024;

std::string kind_of(mode_t mode) {
  if (S_ISDIR(mode)) return "is a directory";
  if (S_ISFIFO(mode)) return "is a named pipe, not a command file";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "is a device, not a command file";
  if (S_ISSOCK(mode)) return "is a socket, not a command file";
  return {};
}

std::string too_large() { return "is larger than " + std::to_string(CommandFile::kMaxBytes >> 20) + " MiB, too large for a command file"; }

}  // namespace

CommandFile::~CommandFile() {
  if (fd_ >= 0) ::close(fd_);
}

// O_NONBLOCK: opening a named pipe must not wait for a writer before it is
// seen to be one; a regular file reads as it would without it.
std::string CommandFile::open(const std::string& path) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd_ < 0) return std::strerror(errno);
  struct stat info {};
  if (::fstat(fd_, &info) != 0) return std::strerror(errno);
  if (std::string kind = kind_of(info.st_mode); !kind.empty()) return kind;
  if (static_cast<std::size_t>(info.st_size) > kMaxBytes) return too_large();
  return {};
}

std::optional<std::string> CommandFile::next_line() {
  for (;;) {
    const std::size_t newline = pending_.find('\n');
    if (newline != std::string::npos) {
      if (newline > interp::kMaxLineBytes) break;
      std::string line = pending_.substr(0, newline);
      pending_.erase(0, newline + 1);
      ++line_;
      return line;
    }
    if (pending_.size() > interp::kMaxLineBytes) break;
    if (!read_more()) {
      if (!problem_.empty() || pending_.empty()) return std::nullopt;
      ++line_;
      return std::exchange(pending_, {});
    }
  }
  return fail("line " + std::to_string(line_ + 1) + " is longer than " + std::to_string(interp::kMaxLineBytes) +
              " bytes");
}

bool CommandFile::read_more() {
  if (ended_) return false;
  char buffer[kReadBytes];
  ssize_t got = 0;
  while ((got = ::read(fd_, buffer, sizeof buffer)) < 0 && errno == EINTR) {}
  if (got < 0) {
    fail("line " + std::to_string(line_ + 1) + " cannot be read: " + std::strerror(errno));
    return false;
  }
  if (got == 0) {
    ended_ = true;
    return false;
  }
  total_ += static_cast<std::size_t>(got);
  if (total_ > kMaxBytes) {
    fail(too_large());
    return false;
  }
  pending_.append(buffer, static_cast<std::size_t>(got));
  return true;
}

std::optional<std::string> CommandFile::fail(const std::string& problem) {
  problem_ = problem;
  ended_ = true;
  pending_.clear();
  return std::nullopt;
}

}  // namespace kivo::host
