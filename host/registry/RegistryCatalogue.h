// The display's view of the registry (web::RunCatalogue): the runs list that
// /runs.json serves and the judgements /certify stores, on a connection of
// its own that the server's threads take in turn. A registry that cannot be
// reached is tried again at most every few seconds; meanwhile the display
// lists the archive's files.
#ifndef KIVO_HOST_REGISTRY_REGISTRY_CATALOGUE_H
#define KIVO_HOST_REGISTRY_REGISTRY_CATALOGUE_H

#include <chrono>
#include <memory>
#include <mutex>
#include <string>

#include "Database.h"
#include "RegistryStore.h"
#include "RunCatalogue.h"

namespace kivo::registry {

class RegistryCatalogue : public web::RunCatalogue {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::seconds kRetryInterval{2};
  static constexpr int kBusyMs = 1000;

  // `archive_directory`: the runs whose files are there can be opened by the page.
  RegistryCatalogue(RegistryUrl url, std::string archive_directory);

  std::optional<std::string> runs_json(const web::RunsQuery& query, std::string& error) override;
  web::CatalogueAnswer certify(const web::CertifyRequest& request) override;

 private:
  // The connection, made when none is; throws DatabaseError.
  Database& database();
  std::string failure(const DatabaseError& problem);

  const RegistryUrl url_;
  const std::string archive_directory_;  // absolute, links resolved
  std::mutex mutex_;
  std::unique_ptr<Database> database_;
  Clock::time_point failed_at_{};
  std::string last_failure_;
};

// The runs as /runs.json lists them: {"archive":true,"registry":{...},"runs":[...]};
// the runs in `archive_directory` marked openable.
std::string catalogue_json(const std::vector<RegisteredRun>& runs, const std::vector<std::string>& stands,
                           const std::vector<std::string>& figures, const std::string& shown,
                           const std::string& archive_directory);

}  // namespace kivo::registry

#endif
