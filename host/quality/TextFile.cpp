#include "TextFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kivo::quality {

namespace {

bool fail(const std::string& path, const char* reason, std::string& error) {
  error = path + ": cannot be read: " + reason;
  return false;
}

}  // namespace

bool read_text_file(const std::string& path, std::string& text, std::string& error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return fail(path, std::strerror(errno), error);
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
    ::close(fd);
    return fail(path, "is a directory", error);
  }
  text.clear();
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got == 0) break;
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      const int cause = errno;
      ::close(fd);
      return fail(path, std::strerror(cause), error);
    }
    text.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(fd);
  return true;
}

}  // namespace kivo::quality
