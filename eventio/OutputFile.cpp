#include "OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kivo::eventio {
namespace {

// True when `path` does not exist yet or is a regular file (not a link to one).
bool replaceable_by_rename(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return true;
  return S_ISREG(info.st_mode);
}

// The file behind `path`, links followed; "-" is the open `standard_fd`.
bool identify(const std::string& path, int standard_fd, struct stat& info) {
  return path == "-" ? ::fstat(standard_fd, &info) == 0 : ::stat(path.c_str(), &info) == 0;
}

// Pipes, terminals and sockets may be read and written at once without loss.
bool holds_data(const struct stat& info) { return S_ISREG(info.st_mode) || S_ISBLK(info.st_mode); }

std::string quoted(const std::string& path, const char* standard_name) {
  return "'" + path + "'" + (path == "-" ? standard_name : "");
}

}  // namespace

OutputFile::~OutputFile() {
  if (fd_ >= 0 && fd_ != STDOUT_FILENO) ::close(fd_);
  if (!temporary_.empty()) ::unlink(temporary_.c_str());
}

bool OutputFile::open(const std::string& path, std::string& error) {
  path_ = path;
  if (!replaceable_by_rename(path)) {
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    return fd_ >= 0 || fail(error, errno);
  }
  // A name of its own beside the target: a rename within one directory is
  // atomic, and no file the operator keeps there is overwritten or removed.
  std::string temporary = path + ".partial-XXXXXX";
  fd_ = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd_ < 0) return fail(error, errno);
  temporary_ = std::move(temporary);
  ::fchmod(fd_, 0644);
  return true;
}

void OutputFile::open_standard_output() {
  path_ = std::string(1, '-');  // not from a literal: GCC 12 warns falsely (-Wrestrict)
  fd_ = STDOUT_FILENO;
}

bool OutputFile::write(std::string_view data, std::string& error) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd_, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return fail(error, n == 0 ? EIO : errno);
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

bool OutputFile::commit(std::string& error) {
  const int fd = fd_;
  fd_ = -1;
  if (fd != STDOUT_FILENO && ::close(fd) != 0) return fail(error, errno);
  if (temporary_.empty()) return true;
  if (::rename(temporary_.c_str(), path_.c_str()) != 0) return fail(error, errno);
  temporary_.clear();
  return true;
}

std::string output_overwrites_input(const std::string& input, const std::string& output) {
  struct stat in {}, out {};
  if (!identify(input, STDIN_FILENO, in) || !identify(output, STDOUT_FILENO, out) || !holds_data(in) ||
      in.st_dev != out.st_dev || in.st_ino != out.st_ino)
    return {};
  return "output " + quoted(output, " (standard output)") + " is the same file as input " +
         quoted(input, " (standard input)") + "; refusing to overwrite the input";
}

bool OutputFile::fail(std::string& error, int error_number) {
  error = path_ + ": " + std::strerror(error_number);
  return false;
}

}  // namespace kivo::eventio
