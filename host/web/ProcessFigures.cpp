#include "ProcessFigures.h"

#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace kivo::web {

namespace {

double seconds_of(const timeval& time) { return static_cast<double>(time.tv_sec) + time.tv_usec / 1e6; }

void read_memory(ProcessFigures& figures) {
  std::ifstream statm("/proc/self/statm");
  double pages = 0, resident = 0;
  if (!(statm >> pages >> resident)) return;
  const long page_size = sysconf(_SC_PAGESIZE);
  figures.virtual_bytes = pages * static_cast<double>(page_size);
  figures.resident_bytes = resident * static_cast<double>(page_size);
}

// The entries of /proc/self/fd, less the one that reads them.
std::optional<double> count_open_fds() {
  DIR* directory = opendir("/proc/self/fd");
  if (directory == nullptr) return std::nullopt;
  double count = 0;
  while (const dirent* entry = readdir(directory))
    if (entry->d_name[0] != '.') ++count;
  closedir(directory);
  return count - 1;
}

// "btime SECONDS" of /proc/stat: when the machine booted.
std::optional<double> boot_time() {
  std::ifstream stat("/proc/stat");
  std::string word;
  double seconds = 0;
  while (stat >> word) {
    if (word == "btime") return (stat >> seconds) ? std::optional<double>(seconds) : std::nullopt;
    stat.ignore(1 << 20, '\n');
  }
  return std::nullopt;
}

// Field 22 of /proc/self/stat: clock ticks from boot to the process's start.
// The command name (field 2) may hold spaces and parentheses: fields are
// counted from the last ')'.
std::optional<double> start_ticks() {
  std::ifstream in("/proc/self/stat");
  std::string line;
  if (!std::getline(in, line)) return std::nullopt;
  const std::size_t name_end = line.rfind(')');
  if (name_end == std::string::npos) return std::nullopt;
  std::istringstream fields(line.substr(name_end + 1));
  std::string field;
  for (int number = 3; fields >> field; ++number)
    if (number == 22) return std::strtod(field.c_str(), nullptr);
  return std::nullopt;
}

}  // namespace

ProcessFigures read_process_figures() {
  ProcessFigures figures;
  rusage usage{};
  if (getrusage(RUSAGE_SELF, &usage) == 0) figures.cpu_seconds = seconds_of(usage.ru_utime) + seconds_of(usage.ru_stime);
  read_memory(figures);
  figures.open_fds = count_open_fds();
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY)
    figures.max_fds = static_cast<double>(files.rlim_cur);
  return figures;
}

std::optional<double> process_start_time() {
  const std::optional<double> booted = boot_time();
  const std::optional<double> ticks = start_ticks();
  const long ticks_per_second = sysconf(_SC_CLK_TCK);
  if (!booted || !ticks || ticks_per_second <= 0) return std::nullopt;
  return *booted + *ticks / static_cast<double>(ticks_per_second);
}

}  // namespace kivo::web
