// What kivo reads from and writes to a registry's tables (Schema.h), the same
// statements on SQLite and PostgreSQL.
#ifndef KIVO_HOST_REGISTRY_REGISTRY_STORE_H
#define KIVO_HOST_REGISTRY_REGISTRY_STORE_H

#include <optional>
#include <string>
#include <vector>

#include "Database.h"
#include "RunCatalogue.h"
#include "RunRecord.h"

namespace kivo::registry {

struct StoredCertification {
  long long id = 0, run_id = 0;
  std::string stand;
  int run = 0;
  std::string verdict, comment, user, at;
};

struct RegisteredRun {
  long long id = 0;
  RunRecord record;
  std::string recorded_at;
  std::vector<StoredCertification> history;  // oldest first; the last is the latest
};

// A judgement to store: of the row `run_id`, or (from the prompt) of the
// latest run numbered `run` of `stand`. `token` makes it unique, so that a
// judgement written twice (a retry after a lost answer) is kept once.
struct CertificationRequest {
  std::string token;
  std::optional<long long> run_id;
  std::string stand;
  int run = 0;
  std::string verdict, comment, user, at;
};

// Records the run in one transaction: its row (the same run recorded again
// is replaced, its certifications kept), its verdicts and its figures.
// Returns the row's id.
long long store_run(Database& database, const RunRecord& record, const std::string& recorded_at);

// Stores the judgement in one transaction. Throws DatabaseError (refused)
// when the registry holds no such run.
StoredCertification store_certification(Database& database, const CertificationRequest& request);

// The runs the query asks for, oldest first, with their certifications; with
// `verdicts`, also every check's verdict.
std::vector<RegisteredRun> select_runs(Database& database, const web::RunsQuery& query, bool verdicts);

// The stands the registry knows, and the names of the figures it holds.
std::vector<std::string> stand_names(Database& database);
std::vector<std::string> figure_names(Database& database);

}  // namespace kivo::registry

#endif
