#include "PendingQueue.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "OutputFile.h"
#include "TemporaryFiles.h"

namespace kivo::registry {

namespace {

namespace fs = std::filesystem;

constexpr const char* kSuffix = ".json";

// "<nanoseconds since 1970, 20 digits>-<pid>-<counter>-<kind>.json": names
// sort in the order the rows came, also across kivo processes.
std::string entry_name(const std::string& kind, unsigned counter) {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  char name[96];
  std::snprintf(name, sizeof name, "%020lld-%d-%06u-%s%s",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()),
                int(::getpid()), counter % 1000000, kind.c_str(), kSuffix);
  return name;
}

// The kind a name ends in: "...-run.json" -> "run"; empty for other files.
std::string kind_of(const std::string& name) {
  if (!name.ends_with(kSuffix)) return {};
  const std::string stem = name.substr(0, name.size() - std::strlen(kSuffix));
  const std::size_t dash = stem.rfind('-');
  return dash == std::string::npos ? std::string() : stem.substr(dash + 1);
}

}  // namespace

PendingQueue::PendingQueue(std::string directory, std::size_t max_rows)
    : directory_(std::move(directory)), max_rows_(max_rows) {
  std::error_code error;
  if (fs::is_directory(directory_, error)) eventio::remove_stale_temporaries_in(directory_);
}

bool PendingQueue::push(const std::string& kind, const std::string& body, std::string& error) {
  if (list().size() >= max_rows_) {
    error = std::to_string(max_rows_) + " rows wait already in " + directory_;
    return false;
  }
  const std::lock_guard lock(directory_mutex_);
  std::error_code made;
  fs::create_directories(directory_, made);
  if (made) {
    error = directory_ + ": " + made.message();
    return false;
  }
  eventio::OutputFile file;
  file.make_durable();
  const std::string path = (fs::path(directory_) / entry_name(kind, counter_++)).string();
  return file.open(path, error, eventio::OutputFile::SpecialFiles::refuse) && file.write(body, error) &&
         file.commit(error);
}

std::vector<PendingQueue::Entry> PendingQueue::list() const {
  std::vector<Entry> entries;
  std::error_code error;
  for (fs::directory_iterator it(directory_, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    pid_t writer = 0;
    std::error_code type_error;
    if (eventio::is_temporary_name(name, writer) || !fs::is_regular_file(it->symlink_status(type_error))) continue;
    if (std::string kind = kind_of(name); !kind.empty()) entries.push_back({name, std::move(kind)});
  }
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
  return entries;
}

bool PendingQueue::read(const Entry& entry, std::string& body, std::string& error) const {
  const std::string path = (fs::path(directory_) / entry.name).string();
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  if (!in) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  body = text.str();
  return true;
}

void PendingQueue::remove(const Entry& entry) {
  std::error_code error;
  fs::remove(fs::path(directory_) / entry.name, error);
}

void PendingQueue::tidy() {
  const std::lock_guard lock(directory_mutex_);
  std::error_code error;
  if (fs::is_directory(directory_, error) && fs::is_empty(directory_, error)) fs::remove(directory_, error);
}

std::string PendingQueue::set_aside(const Entry& entry) {
  const fs::path refused = fs::path(directory_) / "refused";
  std::error_code error;
  fs::create_directories(refused, error);
  fs::rename(fs::path(directory_) / entry.name, refused / entry.name, error);
  return (refused / entry.name).string();
}

}  // namespace kivo::registry
