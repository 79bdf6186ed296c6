#include "TemporaryFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <utility>

namespace kivo::eventio {
namespace {

constexpr const char* kMarker = ".partial-";
constexpr std::size_t kSuffixLength = 6;
constexpr int kNameAttempts = 100;

// Signal handlers read these: a slot is used only once its state is `ready`,
// and changed only after it has been taken out of that state.
enum SlotState : int { kFree, kWriting, kReady };

struct PathSlot {
  std::atomic<int> state{kFree};
  char path[PATH_MAX];
};

constexpr int kPathSlots = 16;
constexpr int kChildSlots = 4;
PathSlot g_paths[kPathSlots];
std::atomic<pid_t> g_children[kChildSlots];
std::atomic<bool> g_handlers_installed{false};
// The terminal whose settings a signal puts back (-1: none), and those settings.
std::atomic<int> g_terminal{-1};
termios g_terminal_settings;
sigset_t g_handled_signals;
// Threads inside a SignalBlock. A signal that reaches another thread waits
// for them, so that a file operation in several steps is never cut in half.
std::atomic<int> g_blocking_threads{0};
constexpr int kWaitSteps = 500;
constexpr long kWaitStepNanoseconds = 10'000'000;

std::string prefix_of(const std::string& file) {
  return file + kMarker + std::to_string(::getpid()) + "-";
}

std::string random_suffix() {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937_64 generator{std::random_device{}()};
  std::string suffix(kSuffixLength, 'A');
  for (char& c : suffix) c = kAlphabet[generator() % (sizeof kAlphabet - 1)];
  return suffix;
}

bool process_runs(pid_t pid) { return pid == ::getpid() || ::kill(pid, 0) == 0 || errno == EPERM; }

// Removes `name` in `directory` when it is a regular file of the naming rule
// whose writer no longer runs.
bool remove_if_stale(const std::string& directory, const std::string& name) {
  pid_t writer = 0;
  if (!is_temporary_name(name, writer) || process_runs(writer)) return false;
  const std::string path = directory + "/" + name;
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::unlink(path.c_str()) == 0;
}

// Calls `visit(name)` for each entry of `directory`; the count of true answers.
template <class Visit>
int for_each_name(const std::string& directory, Visit visit) {
  DIR* stream = ::opendir(directory.c_str());
  if (!stream) return 0;
  int count = 0;
  while (const dirent* entry = ::readdir(stream)) count += visit(std::string(entry->d_name)) ? 1 : 0;
  ::closedir(stream);
  return count;
}

std::string directory_of(const std::string& file) {
  const std::string parent = std::filesystem::path(file).parent_path().string();
  return parent.empty() ? "." : parent;
}

int claim_path_slot(const std::string& path) {
  if (path.size() >= PATH_MAX) return -1;
  for (int i = 0; i < kPathSlots; ++i) {
    int expected = kFree;
    if (!g_paths[i].state.compare_exchange_strong(expected, kWriting)) continue;
    std::memcpy(g_paths[i].path, path.c_str(), path.size() + 1);
    g_paths[i].state.store(kReady);
    return i;
  }
  return -1;
}

void free_path_slot(int slot) {
  if (slot < 0) return;
  g_paths[slot].state.store(kWriting);
  g_paths[slot].path[0] = '\0';
  g_paths[slot].state.store(kFree);
}

// Async-signal-safe. SA_RESETHAND has restored the default action, so the
// raised signal ends the program as soon as the handler returns.
extern "C" void clean_up_and_reraise(int signal) {
  const timespec step{0, kWaitStepNanoseconds};
  for (int waited = 0; g_blocking_threads.load() > 0 && waited < kWaitSteps; ++waited) ::nanosleep(&step, nullptr);
  for (std::atomic<pid_t>& child : g_children) {
    const pid_t pid = child.load();
    if (pid <= 0) continue;
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
  }
  for (PathSlot& slot : g_paths)
    if (slot.state.load() == kReady) ::unlink(slot.path);
  if (const int terminal = g_terminal.load(); terminal >= 0) ::tcsetattr(terminal, TCSANOW, &g_terminal_settings);
  ::raise(signal);
}

}  // namespace

void end_as_by_signal(int signal) {
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  ::sigemptyset(&default_action.sa_mask);
  ::sigaction(signal, &default_action, nullptr);
  clean_up_and_reraise(signal);
}

int create_temporary(const std::string& file, std::string& path) {
  path = prefix_of(file) + "XXXXXX";
  const int fd = ::mkostemp(path.data(), O_CLOEXEC);
  if (fd >= 0) ::fchmod(fd, 0644);
  return fd;
}

bool link_temporary(const std::string& existing, const std::string& file, std::string& name) {
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    name = prefix_of(file) + random_suffix();
    if (::link(existing.c_str(), name.c_str()) == 0) return true;
    if (errno != EEXIST) break;
  }
  name.clear();
  return false;
}

bool is_temporary_name(const std::string& name, pid_t& writer) {
  const std::size_t marker = name.rfind(kMarker);
  if (marker == std::string::npos || marker == 0) return false;
  const std::size_t digits = marker + std::strlen(kMarker);
  const std::size_t dash = name.find('-', digits);
  if (dash == std::string::npos || dash == digits || dash - digits > 9 ||
      name.size() != dash + 1 + kSuffixLength)
    return false;
  for (std::size_t i = digits; i < dash; ++i)
    if (name[i] < '0' || name[i] > '9') return false;
  for (std::size_t i = dash + 1; i < name.size(); ++i)
    if (!std::isalnum(static_cast<unsigned char>(name[i]))) return false;
  writer = static_cast<pid_t>(std::atol(name.c_str() + digits));
  return writer > 0;
}

void remove_stale_temporaries(const std::string& file) {
  const std::string directory = directory_of(file);
  const std::string own = std::filesystem::path(file).filename().string() + kMarker;
  for_each_name(directory, [&](const std::string& name) {
    return name.starts_with(own) && name.find(kMarker, own.size()) == std::string::npos &&
           remove_if_stale(directory, name);
  });
}

int remove_stale_temporaries_in(const std::string& directory) {
  return for_each_name(directory, [&](const std::string& name) { return remove_if_stale(directory, name); });
}

RegisteredTemporary::RegisteredTemporary(const std::string& path) : slot_(claim_path_slot(path)) {}

RegisteredTemporary::~RegisteredTemporary() { release(); }

RegisteredTemporary::RegisteredTemporary(RegisteredTemporary&& other) noexcept
    : slot_(std::exchange(other.slot_, -1)) {}

RegisteredTemporary& RegisteredTemporary::operator=(RegisteredTemporary&& other) noexcept {
  if (this != &other) {
    release();
    slot_ = std::exchange(other.slot_, -1);
  }
  return *this;
}

void RegisteredTemporary::release() { free_path_slot(std::exchange(slot_, -1)); }

RegisteredChild::RegisteredChild(pid_t pid) {
  for (int i = 0; i < kChildSlots; ++i) {
    pid_t expected = 0;
    if (g_children[i].compare_exchange_strong(expected, pid)) {
      slot_ = i;
      return;
    }
  }
}

RegisteredChild::~RegisteredChild() {
  if (slot_ >= 0) g_children[slot_].store(0);
}

void remove_partial_output_on_signals(std::initializer_list<int> signals) {
  ::sigemptyset(&g_handled_signals);
  for (int signal : signals) ::sigaddset(&g_handled_signals, signal);
  struct sigaction action {};
  action.sa_handler = clean_up_and_reraise;
  action.sa_mask = g_handled_signals;  // one clean-up at a time
  action.sa_flags = SA_RESETHAND;
  for (int signal : signals) {
    struct sigaction previous {};
    // An ignored signal stays ignored, as nohup and background jobs expect.
    if (::sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler != SIG_IGN)
      ::sigaction(signal, &action, nullptr);
  }
  g_handlers_installed = true;
}

void restore_terminal_on_signals(int fd) {
  if (::tcgetattr(fd, &g_terminal_settings) == 0) g_terminal.store(fd);
}

SignalBlock::SignalBlock() {
  if (!g_handlers_installed) return;
  blocked_ = ::pthread_sigmask(SIG_BLOCK, &g_handled_signals, &previous_) == 0;
  if (blocked_) ++g_blocking_threads;
}

SignalBlock::~SignalBlock() {
  if (!blocked_) return;
  --g_blocking_threads;
  ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

}  // namespace kivo::eventio
