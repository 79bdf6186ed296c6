#include "OutputFile.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

namespace kivo::eventio {
namespace {

// The file `path` stands for: when it is a symbolic link, the file it leads
// to (also one not there yet), so that the new content replaces that file and
// the link keeps leading to it; otherwise the path itself.
std::string file_behind(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code error;
  if (!fs::is_symlink(path, error)) return path;
  const fs::path target = fs::canonical(path, error);
  if (!error) return target.string();
  const fs::path dangling = fs::read_symlink(path, error);
  if (error) return path;
  return (dangling.is_absolute() ? dangling : fs::path(path).parent_path() / dangling).string();
}

// True when `file` does not exist yet or is a regular file.
bool replaceable_by_rename(const std::string& file) {
  struct stat info {};
  if (::lstat(file.c_str(), &info) != 0) return true;
  return S_ISREG(info.st_mode);
}

// What `file` is when it is a pipe, a device or a socket ("a named pipe",
// ...), which a writer opening it may have to wait for; empty otherwise. A
// directory is not one: the rename over it fails at once.
std::string kind_of_special_file(const std::string& file) {
  struct stat info {};
  if (::lstat(file.c_str(), &info) != 0) return {};
  return S_ISFIFO(info.st_mode)   ? "a named pipe"
         : S_ISCHR(info.st_mode)  ? "a character device"
         : S_ISBLK(info.st_mode)  ? "a block device"
         : S_ISSOCK(info.st_mode) ? "a socket"
                                  : "";
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

// Renames `from` to `to` unless `to` exists, in one step where the file
// system can (no other writer can come in between), else with a hard link
// and removing `from`, else after looking; false with errno set, EEXIST when
// `to` exists.
bool rename_without_replacing(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  if (::link(from.c_str(), to.c_str()) == 0) {
    ::unlink(from.c_str());
    return true;
  }
  if (errno != EPERM && errno != EOPNOTSUPP) return false;
  struct stat info {};
  if (::lstat(to.c_str(), &info) == 0) {
    errno = EEXIST;
    return false;
  }
  return ::rename(from.c_str(), to.c_str()) == 0;
}

// One output of a commit: whether its file was renamed into place, and the
// second name under which the content it replaced stays reachable until
// every output is in place.
struct Placement {
  OutputFile* output;
  std::string previous;
  bool renamed = false;
};

// Puts the outputs back as they were before the commit, last placed first.
void roll_back(std::vector<Placement>& placements) {
  for (auto placement = placements.rbegin(); placement != placements.rend(); ++placement) {
    if (!placement->renamed) continue;
    const std::string& file = placement->output->file();
    if (placement->previous.empty()) {
      ::unlink(file.c_str());
    } else if (::rename(placement->previous.c_str(), file.c_str()) == 0) {
      placement->previous.clear();
    }
  }
}

}  // namespace

OutputFile::~OutputFile() {
  if (fd_ >= 0 && fd_ != STDOUT_FILENO) ::close(fd_);
  if (!replaces_file()) return;
  const SignalBlock block;
  ::unlink(temporary_.c_str());
  forget_temporary();
}

bool OutputFile::open(const std::string& path, std::string& error, SpecialFiles special) {
  path_ = path;
  file_ = file_behind(path);
  const bool refusing = special == SpecialFiles::refuse;
  if (refusing) {
    if (const std::string problem = special_file_problem(file_); !problem.empty()) {
      error = file_ + ": " + problem;
      return false;
    }
  }
  if (!replaceable_by_rename(file_)) {
    // Refusing, only a directory comes here, and fails to open; O_NONBLOCK
    // keeps a pipe put there since the look from making it wait.
    fd_ = ::open(file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | (refusing ? O_NONBLOCK : 0), 0644);
    return fd_ >= 0 || fail(error, errno);
  }
  remove_stale_temporaries(file_);
  const SignalBlock block;
  std::string temporary;
  fd_ = create_temporary(file_, temporary);
  if (fd_ < 0) return fail(error, errno);
  temporary_ = std::move(temporary);
  registration_ = RegisteredTemporary(temporary_);
  return true;
}

void OutputFile::open_standard_output() {
  path_ = std::string(1, '-');  // not from a literal: GCC 12 warns falsely (-Wrestrict)
  file_ = path_;
  fd_ = STDOUT_FILENO;
}

// In pieces: a signal waits for the system call under way, and a second
// termination signal must end kivo while a large file is written, not once
// it is whole.
bool OutputFile::write(std::string_view data, std::string& error) {
  constexpr std::size_t kPiece = std::size_t{1} << 20;
  while (!data.empty()) {
    const ssize_t n = ::write(fd_, data.data(), std::min(data.size(), kPiece));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return fail(error, n == 0 ? EIO : errno);
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

bool OutputFile::write_at(std::uint64_t offset, std::string_view data, std::string& error) {
  while (!data.empty()) {
    const ssize_t n = ::pwrite(fd_, data.data(), data.size(), static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return fail(error, n == 0 ? EIO : errno);
    data.remove_prefix(static_cast<std::size_t>(n));
    offset += static_cast<std::uint64_t>(n);
  }
  return true;
}

bool OutputFile::close(std::string& error) {
  const int fd = fd_;
  fd_ = -1;
  if (fd < 0 || fd == STDOUT_FILENO) return true;  // closed by an earlier commit
  const bool synced = !durable_ || ::fsync(fd) == 0 || errno == EINVAL;
  const int sync_error = errno;
  if (::close(fd) != 0) return fail(error, errno);
  return synced || fail(error, sync_error);
}

bool OutputFile::sync_directory(std::string& error) {
  if (!durable_) return true;
  const std::filesystem::path parent = std::filesystem::path(file_).parent_path();
  const int fd = ::open(parent.empty() ? "." : parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return fail(error, errno);
  const bool synced = ::fsync(fd) == 0 || errno == EINVAL;
  const int sync_error = errno;
  ::close(fd);
  return synced || fail(error, sync_error);
}

void OutputFile::retarget(const std::string& path) {
  path_ = path;
  file_ = path;
}

bool OutputFile::commit(std::string& error) { return commit_together({this}, error); }

bool OutputFile::commit_as_new(std::string& error, bool& taken) {
  taken = false;
  if (!replaces_file()) return commit(error);
  if (!close(error)) return false;
  const SignalBlock block;
  if (!rename_without_replacing(temporary_, file_)) {
    taken = errno == EEXIST;
    return fail(error, errno);
  }
  forget_temporary();
  return sync_directory(error);
}

void OutputFile::forget_temporary() {
  registration_.release();
  temporary_.clear();
}

bool OutputFile::fail(std::string& error, int error_number) {
  error = file_ + ": " + std::strerror(error_number);
  return false;
}

bool commit_together(std::initializer_list<OutputFile*> outputs, std::string& error) {
  for (OutputFile* output : outputs)
    if (!output->close(error)) return false;
  const SignalBlock block;
  std::vector<Placement> placements;
  bool placed = true;
  for (OutputFile* output : outputs) {
    Placement& placement = placements.emplace_back(Placement{output, {}, false});
    if (!output->replaces_file()) continue;
    // The last output needs no second name: nothing can fail after it.
    const bool last = output == *(outputs.end() - 1);
    if (!last && !link_temporary(output->file(), output->file(), placement.previous) && errno != ENOENT) {
      placed = output->fail(error, errno);
      break;
    }
    if (::rename(output->temporary_.c_str(), output->file().c_str()) != 0) {
      placed = output->fail(error, errno);
      break;
    }
    placement.renamed = true;
    output->forget_temporary();
  }
  if (!placed) roll_back(placements);
  for (const Placement& placement : placements)
    if (!placement.previous.empty()) ::unlink(placement.previous.c_str());
  if (placed)
    for (OutputFile* output : outputs)
      if (!output->sync_directory(error)) return false;
  return placed;
}

std::string special_file_problem(const std::string& path) {
  const std::string kind = kind_of_special_file(file_behind(path));
  return kind.empty() ? kind : "is " + kind + "; only a regular file is written";
}

std::string output_overwrites_input(const std::string& input, const std::string& output) {
  struct stat in {}, out {};
  if (!identify(input, STDIN_FILENO, in) || !identify(output, STDOUT_FILENO, out) || !holds_data(in) ||
      in.st_dev != out.st_dev || in.st_ino != out.st_ino)
    return {};
  return "output " + quoted(output, " (standard output)") + " is the same file as input " +
         quoted(input, " (standard input)") + "; refusing to overwrite the input";
}

void remove_partial_output_on_signal() { remove_partial_output_on_signals({SIGINT, SIGTERM, SIGHUP}); }

}  // namespace kivo::eventio
