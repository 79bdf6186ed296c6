#include "RegularFiles.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>

namespace kivo::web {

namespace {

constexpr std::size_t kRememberedMessages = 256;

std::string kind_of(mode_t mode) {
  if (S_ISFIFO(mode)) return "is a named pipe";
  if (S_ISCHR(mode)) return "is a character device";
  if (S_ISBLK(mode)) return "is a block device";
  if (S_ISSOCK(mode)) return "is a socket";
  if (S_ISDIR(mode)) return "is a directory";
  return "is not a regular file";
}

// `fd` when it holds a regular file, else closed and -1 with `problem`.
int keep_if_regular(int fd, std::string& problem) {
  struct stat info {};
  if (fd < 0) {
    problem = errno == ELOOP ? "is a symbolic link" : std::strerror(errno);
    return -1;
  }
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    problem = kind_of(info.st_mode);
    ::close(fd);
    return -1;
  }
  return fd;
}

// O_NONBLOCK: opening a named pipe waits for a writer otherwise; it changes
// nothing for a regular file on a local disk.
constexpr int kReadFlags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;

}  // namespace

int open_regular_file_in(const std::string& directory, const std::string& name, std::string& problem) {
  const int folder = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) {
    problem = directory + ": " + std::strerror(errno);
    return -1;
  }
  const int fd = keep_if_regular(::openat(folder, name.c_str(), kReadFlags | O_NOFOLLOW), problem);
  ::close(folder);
  return fd;
}

std::optional<std::string> read_regular_file(const std::string& path, std::size_t most_bytes, std::string& problem) {
  const int fd = keep_if_regular(::open(path.c_str(), kReadFlags), problem);
  if (fd < 0) return std::nullopt;
  std::string text;
  char buffer[8192];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) problem = std::strerror(errno);
    if (got <= 0) break;
    text.append(buffer, static_cast<std::size_t>(got));
    if (text.size() > most_bytes) {
      problem = "is longer than " + std::to_string(most_bytes) + " bytes";
      break;
    }
  }
  ::close(fd);
  if (!problem.empty()) return std::nullopt;
  return text;
}

void log_once(const std::string& message) {
  static std::mutex mutex;
  static std::set<std::string> logged;
  {
    const std::lock_guard lock(mutex);
    if (logged.contains(message) || logged.size() >= kRememberedMessages) return;
    logged.insert(message);
  }
  std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, message.c_str());
}

}  // namespace kivo::web
