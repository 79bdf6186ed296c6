#include "RegistryCatalogue.h"

#include <filesystem>
#include <nlohmann/json.hpp>

#include "RegistryWriter.h"
#include "Schema.h"

namespace kivo::registry {

namespace {

using nlohmann::json;

template <class Value>
json or_null(const std::optional<Value>& value) {
  return value ? json(*value) : json(nullptr);
}

json text_or_null(const std::string& text) { return text.empty() ? json(nullptr) : json(text); }

json certification_json(const StoredCertification& stored) {
  return {{"id", stored.id},           {"verdict", stored.verdict}, {"comment", stored.comment},
          {"user", stored.user},       {"at", stored.at},           {"run", stored.run},
          {"stand", stored.stand}};
}

// Whether the run's file lies directly in the archive the display serves.
bool openable(const RunRecord& record, const std::string& archive_directory) {
  return record.path && !archive_directory.empty() &&
         std::filesystem::path(*record.path).parent_path() == std::filesystem::path(archive_directory);
}

json run_json(const RegisteredRun& run, const std::string& archive_directory) {
  const RunRecord& record = run.record;
  json figures = json::object();
  for (const auto& [name, value] : record.figures) figures[name] = value;
  json history = json::array();
  for (const StoredCertification& stored : run.history) history.push_back(certification_json(stored));
  return {{"id", run.id},
          {"stand", record.stand},
          {"run", record.run},
          {"file", record.file},
          {"bytes", or_null(record.bytes)},
          {"path", or_null(record.path)},
          {"openable", openable(record, archive_directory)},
          {"first_event", text_or_null(record.first_event)},
          {"last_event", text_or_null(record.last_event)},
          {"data_events", or_null(record.data_events)},
          {"begin_seen", or_null(record.begin_seen)},
          {"end_seen", or_null(record.end_seen)},
          {"cut_short", record.end_seen.has_value() && !*record.end_seen},
          {"overall", text_or_null(record.overall)},
          {"overall_reason", record.overall.empty() ? json(nullptr) : json(record.overall_reason)},
          {"version", text_or_null(record.version)},
          {"recorded_at", run.recorded_at},
          {"figures", figures},
          {"certification", run.history.empty() ? json(nullptr) : certification_json(run.history.back())},
          {"certifications", history},
          {"problem", nullptr}};
}

std::string dumped(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); }

std::string resolved_directory(const std::string& directory) {
  if (directory.empty()) return {};
  std::error_code error;
  const std::filesystem::path path = std::filesystem::weakly_canonical(directory, error);
  return error ? directory : path.string();
}

}  // namespace

std::string catalogue_json(const std::vector<RegisteredRun>& runs, const std::vector<std::string>& stands,
                           const std::vector<std::string>& figures, const std::string& shown,
                           const std::string& archive_directory) {
  json listed = json::array();
  for (const RegisteredRun& run : runs) listed.push_back(run_json(run, archive_directory));
  return dumped({{"archive", !archive_directory.empty()},
                 {"registry", {{"ok", true}, {"url", shown}, {"stands", stands}, {"figures", figures}}},
                 {"runs", listed}});
}

RegistryCatalogue::RegistryCatalogue(RegistryUrl url, std::string archive_directory)
    : url_(std::move(url)), archive_directory_(resolved_directory(archive_directory)) {}

Database& RegistryCatalogue::database() {
  if (!database_) {
    if (!last_failure_.empty() && Clock::now() - failed_at_ < kRetryInterval)
      throw DatabaseError(Failure::unavailable, last_failure_);
    std::unique_ptr<Database> connected = connect(url_, kBusyMs);
    prepare_schema(*connected, url_.shown);
    database_ = std::move(connected);
    last_failure_.clear();
  }
  return *database_;
}

std::string RegistryCatalogue::failure(const DatabaseError& problem) {
  database_.reset();
  last_failure_ = masked(url_, problem.what());
  failed_at_ = Clock::now();
  return last_failure_;
}

std::optional<std::string> RegistryCatalogue::runs_json(const web::RunsQuery& query, std::string& error) {
  const std::lock_guard lock(mutex_);
  try {
    Database& connected = database();
    const std::vector<RegisteredRun> runs = select_runs(connected, query, false);
    return catalogue_json(runs, stand_names(connected), figure_names(connected), url_.shown, archive_directory_);
  } catch (const DatabaseError& problem) {
    error = failure(problem);
    return std::nullopt;
  }
}

web::CatalogueAnswer RegistryCatalogue::certify(const web::CertifyRequest& request) {
  CertificationRequest stored_request;
  stored_request.token = new_token();
  stored_request.run_id = request.run_id;
  stored_request.verdict = request.verdict;
  stored_request.comment = request.comment;
  stored_request.user = request.user;
  stored_request.at = utc_now();
  const std::lock_guard lock(mutex_);
  try {
    const StoredCertification stored = store_certification(database(), stored_request);
    return {200, dumped({{"ok", true}, {"certification", certification_json(stored)}})};
  } catch (const DatabaseError& problem) {
    // A connection that works and refuses: the run is not there.
    if (problem.failure() == Failure::refused && database_)
      return {404, dumped({{"ok", false}, {"error", masked(url_, problem.what())}})};
    return {503, dumped({{"ok", false}, {"error", "the registry cannot take it now: " + failure(problem)}})};
  }
}

}  // namespace kivo::registry
