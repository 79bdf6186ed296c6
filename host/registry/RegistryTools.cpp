#include "RegistryTools.h"

#include <charconv>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "ArchiveListing.h"
#include "RegistryStore.h"
#include "RegistryWriter.h"
#include "Schema.h"

namespace kivo::registry {

namespace {

using nlohmann::json;

// How long the command-line uses wait for a locked SQLite file.
constexpr int kToolBusyMs = 10000;

std::unique_ptr<Database> prepared(const RegistryUrl& url) {
  std::unique_ptr<Database> database = connect(url, kToolBusyMs);
  prepare_schema(*database, url.shown);
  return database;
}

std::string csv_field(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

template <class Value>
std::string csv_optional(const std::optional<Value>& value) {
  return value ? std::to_string(*value) : std::string();
}

std::string csv_flag(const std::optional<bool>& value) { return value ? (*value ? "yes" : "no") : ""; }

// The shortest text that reads back as the same number.
std::string csv_number(double value) {
  char text[32];
  const auto [end, status] = std::to_chars(text, text + sizeof text, value);
  return status == std::errc() ? std::string(text, end) : std::string();
}

void put_csv_line(const std::vector<std::string>& fields) {
  std::string line;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) line.push_back(',');
    line.append(csv_field(fields[i]));
  }
  std::puts(line.c_str());
}

void write_csv(const std::vector<RegisteredRun>& runs, const std::vector<std::string>& figures) {
  std::vector<std::string> head = {"stand",        "run",          "file",         "path",
                                   "bytes",        "first_event",  "last_event",   "data_events",
                                   "begin_seen",   "end_seen",     "kivo_version", "overall",
                                   "overall_reason", "certification", "certification_comment", "certified_by",
                                   "certified_at"};
  head.insert(head.end(), figures.begin(), figures.end());
  put_csv_line(head);
  for (const RegisteredRun& run : runs) {
    const RunRecord& r = run.record;
    const StoredCertification none;
    const StoredCertification& latest = run.history.empty() ? none : run.history.back();
    std::vector<std::string> fields = {r.stand,           std::to_string(r.run), r.file,
                                       r.path.value_or(""), csv_optional(r.bytes), r.first_event,
                                       r.last_event,      csv_optional(r.data_events), csv_flag(r.begin_seen),
                                       csv_flag(r.end_seen), r.version,         r.overall,
                                       r.overall_reason,  latest.verdict,       latest.comment,
                                       latest.user,       latest.at};
    for (const std::string& figure : figures) {
      std::string value;
      for (const auto& [name, number] : r.figures)
        if (name == figure) value = csv_number(number);
      fields.push_back(value);
    }
    put_csv_line(fields);
  }
}

template <class Value>
json or_null(const std::optional<Value>& value) {
  return value ? json(*value) : json(nullptr);
}

void write_json(const std::vector<RegisteredRun>& runs) {
  json listed = json::array();
  for (const RegisteredRun& run : runs) {
    const RunRecord& r = run.record;
    json verdicts = json::array(), figures = json::object(), history = json::array();
    for (const RunVerdict& v : r.verdicts)
      verdicts.push_back({{"name", v.name}, {"check", v.check}, {"stave", or_null(v.stave)},
                          {"chip", or_null(v.chip)}, {"verdict", v.verdict}, {"reason", v.reason}});
    for (const auto& [name, value] : r.figures) figures[name] = value;
    for (const StoredCertification& c : run.history)
      history.push_back({{"verdict", c.verdict}, {"comment", c.comment}, {"user", c.user}, {"at", c.at}});
    listed.push_back({{"stand", r.stand},           {"run", r.run},
                      {"file", r.file},             {"path", or_null(r.path)},
                      {"bytes", or_null(r.bytes)},  {"first_event", r.first_event},
                      {"last_event", r.last_event}, {"data_events", or_null(r.data_events)},
                      {"begin_seen", or_null(r.begin_seen)}, {"end_seen", or_null(r.end_seen)},
                      {"kivo_version", r.version},  {"overall", r.overall},
                      {"overall_reason", r.overall_reason}, {"recorded_at", run.recorded_at},
                      {"verdicts", verdicts},       {"figures", figures},
                      {"certifications", history}});
  }
  std::puts(listed.dump(1, ' ', false, json::error_handler_t::replace).c_str());
}

}  // namespace

bool is_export_format(const std::string& format) { return format == "csv" || format == "json"; }

std::string registry_problem(const RegistryUrl& url, bool& fatal) {
  fatal = false;
  try {
    prepared(url);
    return {};
  } catch (const DatabaseError& problem) {
    // An SQLite file that cannot be opened is a wrong path, not a server away.
    fatal = problem.failure() == Failure::refused ||
            (url.engine == Engine::sqlite && problem.failure() == Failure::unavailable);
    return masked(url, problem.what());
  }
}

int rebuild_registry(const RegistryUrl& url, const std::string& directory, const std::string& stand,
                     const Report& report) {
  std::vector<web::ArchivedRun> runs;
  std::string error;
  if (!web::list_archive(directory, runs, error)) {
    report("--rebuild: " + error);
    return 1;
  }
  std::size_t recorded = 0, unreadable = 0;
  try {
    std::unique_ptr<Database> database = prepared(url);
    for (const web::ArchivedRun& run : runs) {
      if (!run.problem.empty()) {
        report("--rebuild: " + run.file + " is skipped: it cannot be read: " + run.problem);
        ++unreadable;
        continue;
      }
      const std::string path = record_path((std::filesystem::path(directory) / run.file).string());
      store_run(*database, record_of(run, stand, path), utc_now());
      ++recorded;
    }
  } catch (const DatabaseError& problem) {
    report("--rebuild: " + masked(url, problem.what()) + " (" + std::to_string(recorded) + " of " +
           std::to_string(runs.size()) + " runs recorded)");
    return 1;
  }
  report("--rebuild: " + std::to_string(recorded) + (recorded == 1 ? " run" : " runs") + " of " + directory +
         " recorded in " + url.shown +
         (unreadable ? ", " + std::to_string(unreadable) + " unreadable files skipped" : std::string()));
  return unreadable ? 1 : 0;
}

int export_registry(const RegistryUrl& url, const std::string& format, const std::string& since,
                    const Report& report) {
  web::RunsQuery query;
  query.since = since;
  query.last = INT_MAX;
  try {
    std::unique_ptr<Database> database = prepared(url);
    const std::vector<RegisteredRun> runs = select_runs(*database, query, format == "json");
    if (format == "csv")
      write_csv(runs, figure_names(*database));
    else
      write_json(runs);
  } catch (const DatabaseError& problem) {
    report("--export: " + masked(url, problem.what()));
    return 1;
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace kivo::registry
