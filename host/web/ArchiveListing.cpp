#include "ArchiveListing.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <nlohmann/json.hpp>

#include "RootFileKeys.h"

namespace kivo::web {

namespace {

namespace fs = std::filesystem;

// A run file's keys list takes some tens of kilobytes; a file whose list
// claims more is not read, so that a huge or sparse file named like a run
// costs the listing no more than a run file does.
constexpr Long64_t kListedKeysBytes = Long64_t{1} << 20;

bool all_digits(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

template <class Number>
Number number_or(const std::string& text, Number fallback) {
  Number value{};
  const auto [end, status] = std::from_chars(text.data(), text.data() + text.size(), value);
  return status == std::errc() && end == text.data() + text.size() ? value : fallback;
}

// "Good: reason" -> "Good", "reason".
std::pair<std::string, std::string> verdict_parts(const std::string& title) {
  const std::size_t colon = title.find(": ");
  if (colon == std::string::npos) return {title, ""};
  return {title.substr(0, colon), title.substr(colon + 2)};
}

bool is_verdict_name(const std::string& name) {
  return name.starts_with(kVerdictPrefix) && name != kOverallVerdictName && name != "quality_verdicts" &&
         name != "quality_checks";
}

// The file keeps the overall verdict alone: its reason is that of the first
// check with the same verdict (for Good, that none is worse).
std::string reason_of_overall(const ArchivedRun& run) {
  if (run.overall == "Good") return "every check Good or not judged";
  for (const auto& [name, title] : run.verdicts) {
    const auto [verdict, reason] = verdict_parts(title);
    if (verdict == run.overall) return name.substr(std::strlen(kVerdictPrefix)) + ": " + reason;
  }
  return "";
}

int yes_or_no(const std::string& title) { return title == "yes" ? 1 : title == "no" ? 0 : -1; }

void take_fact(ArchivedRun& run, const rootcompat::KeyRecord& key) {
  if (key.className == "TNamed") take_named_fact(run, key.name, key.title);
}

// The run number a file's name gives: run<N>[_<K>].root.
int run_of_name(const std::string& name) {
  const std::string stem = name.substr(3, name.size() - 3 - 5);
  return number_or(stem.substr(0, stem.find('_')), -1);
}

template <class Value>
nlohmann::json known(const Value& value, bool is_known) {
  return is_known ? nlohmann::json(value) : nlohmann::json(nullptr);
}

}  // namespace

void take_named_fact(ArchivedRun& run, const std::string& name, const std::string& title) {
  if (name == kRunNumberName) run.run = number_or(title, -1);
  if (name == kRunFirstEventName) run.first_event = title;
  if (name == kRunLastEventName) run.last_event = title;
  if (name == kRunDataEventsName) run.data_events = number_or(title, -1L);
  if (name == kRunBeginSeenName) run.begin_seen = yes_or_no(title);
  if (name == kRunEndSeenName) run.end_seen = yes_or_no(title);
  if (name == kRunEndSeenName) run.cut_short = title == "no";
  if (name == kKivoVersionName) run.version = title;
  if (name == kRunStandName) run.stand = title;
  if (name == kOverallVerdictName) std::tie(run.overall, run.overall_reason) = verdict_parts(title);
  if (is_verdict_name(name)) run.verdicts.emplace_back(name, title);
  if (name.starts_with(kSummaryPrefix))
    run.figures.emplace_back(name.substr(std::string_view(kSummaryPrefix).size()), title);
}

bool is_run_file_name(const std::string& name) {
  if (!name.starts_with("run") || !name.ends_with(".root") || name.size() <= 8) return false;
  const std::string stem = name.substr(3, name.size() - 3 - 5);
  const std::size_t underscore = stem.find('_');
  if (underscore == std::string::npos) return all_digits(stem);
  return all_digits(stem.substr(0, underscore)) && all_digits(stem.substr(underscore + 1));
}

ArchivedRun read_archived_run(const std::string& directory, const std::string& name) {
  ArchivedRun run;
  run.file = name;
  const std::string path = (std::filesystem::path(directory) / name).string();
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0) run.bytes = info.st_size;
  rootcompat::FileKeys contents;
  std::string error;
  if (!rootcompat::ReadFileKeys(path, contents, error, kListedKeysBytes)) {
    run.problem = error;
    run.run = run_of_name(name);
    return run;
  }
  for (const rootcompat::KeyRecord& key : contents.keys) take_fact(run, key);
  complete_facts(run);
  return run;
}

void complete_facts(ArchivedRun& run) {
  if (run.overall_reason.empty()) run.overall_reason = reason_of_overall(run);
  if (run.run < 0 && is_run_file_name(run.file)) run.run = run_of_name(run.file);
}

bool list_archive(const std::string& directory, std::vector<ArchivedRun>& runs, std::string& error) {
  runs.clear();
  std::error_code failure;
  std::filesystem::directory_iterator entries(directory, failure);
  if (failure) {
    error = directory + ": " + failure.message();
    return false;
  }
  for (const auto& entry : entries) {
    const std::string name = entry.path().filename().string();
    // Regular files only: a symbolic link may lead out of the archive.
    std::error_code type_failure;
    if (is_run_file_name(name) && fs::is_regular_file(entry.symlink_status(type_failure)))
      runs.push_back(read_archived_run(directory, name));
  }
  std::sort(runs.begin(), runs.end(), [](const ArchivedRun& a, const ArchivedRun& b) {
    return a.run != b.run ? a.run < b.run : a.file < b.file;
  });
  return true;
}

std::string runs_json(const std::vector<ArchivedRun>& runs) {
  nlohmann::json list = nlohmann::json::array();
  for (const ArchivedRun& run : runs) {
    list.push_back({{"file", run.file},
                    {"bytes", run.bytes},
                    {"run", known(run.run, run.run >= 0)},
                    {"first_event", known(run.first_event, !run.first_event.empty())},
                    {"last_event", known(run.last_event, !run.last_event.empty())},
                    {"data_events", known(run.data_events, run.data_events >= 0)},
                    {"overall", known(run.overall, !run.overall.empty())},
                    {"overall_reason", known(run.overall_reason, !run.overall.empty())},
                    {"cut_short", run.cut_short},
                    {"version", known(run.version, !run.version.empty())},
                    {"problem", known(run.problem, !run.problem.empty())}});
  }
  return nlohmann::json{{"archive", true}, {"runs", list}}.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string ArchiveListing::json() {
  const std::lock_guard lock(mutex_);
  struct stat info {};
  const bool known = ::stat(directory_.c_str(), &info) == 0;
  if (known && info.st_mtim.tv_sec == read_at_.tv_sec && info.st_mtim.tv_nsec == read_at_.tv_nsec) return json_;
  std::vector<ArchivedRun> runs;
  std::string error;
  list_archive(directory_, runs, error);
  json_ = runs_json(runs);
  runs_ = std::move(runs);
  read_at_ = known ? info.st_mtim : timespec{-1, 0};
  return json_;
}

std::vector<ArchivedRun> ArchiveListing::runs() {
  json();
  const std::lock_guard lock(mutex_);
  return runs_;
}

}  // namespace kivo::web
