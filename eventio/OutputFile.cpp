#include "OutputFile.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

namespace kivo::eventio {
namespace {

constexpr int kRemovingSignals[] = {SIGINT, SIGTERM, SIGHUP};

bool g_signals_handled = false;
// The temporary a signal removes, empty when none. Changed only with those
// signals blocked, so the handler never sees half a path.
char g_partial_path[PATH_MAX];

sigset_t removing_signals() {
  sigset_t set;
  ::sigemptyset(&set);
  for (int signal : kRemovingSignals) ::sigaddset(&set, signal);
  return set;
}

// Holds the removing signals back while alive, once handlers are installed.
class SignalBlock {
 public:
  SignalBlock() {
    if (!g_signals_handled) return;
    const sigset_t block = removing_signals();
    ::pthread_sigmask(SIG_BLOCK, &block, &previous_);
  }
  ~SignalBlock() {
    if (g_signals_handled) ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }
  SignalBlock(const SignalBlock&) = delete;
  SignalBlock& operator=(const SignalBlock&) = delete;

 private:
  sigset_t previous_;
};

// Async-signal-safe. SA_RESETHAND has restored the default action, so the
// raised signal ends the program as soon as the handler returns.
extern "C" void remove_partial_and_reraise(int signal) {
  if (g_partial_path[0] != '\0') ::unlink(g_partial_path);
  ::raise(signal);
}

// Makes `temporary` the path a signal removes; false when handlers are not
// installed, another temporary is registered or the path does not fit.
bool register_partial(const std::string& temporary) {
  if (!g_signals_handled || g_partial_path[0] != '\0' || temporary.size() >= sizeof g_partial_path)
    return false;
  std::memcpy(g_partial_path, temporary.c_str(), temporary.size() + 1);
  return true;
}

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
  if (temporary_.empty()) return;
  const SignalBlock block;
  ::unlink(temporary_.c_str());
  forget_temporary();
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
  const SignalBlock block;
  fd_ = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd_ < 0) return fail(error, errno);
  temporary_ = std::move(temporary);
  removed_on_signal_ = register_partial(temporary_);
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
  const SignalBlock block;
  if (::rename(temporary_.c_str(), path_.c_str()) != 0) return fail(error, errno);
  forget_temporary();
  return true;
}

void OutputFile::forget_temporary() {
  if (removed_on_signal_) g_partial_path[0] = '\0';
  removed_on_signal_ = false;
  temporary_.clear();
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

void remove_partial_output_on_signal() {
  struct sigaction action {};
  action.sa_handler = remove_partial_and_reraise;
  action.sa_mask = removing_signals();  // one removal at a time
  action.sa_flags = SA_RESETHAND;
  for (int signal : kRemovingSignals) {
    struct sigaction previous {};
    // An ignored signal stays ignored, as nohup and background jobs expect.
    if (::sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler != SIG_IGN)
      ::sigaction(signal, &action, nullptr);
  }
  g_signals_handled = true;
}

}  // namespace kivo::eventio
