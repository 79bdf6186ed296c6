// The run registry as the display sees it (host/registry provides it): the
// runs list with its filters for /runs.json, and the one write the display
// takes, a shift's certification of a run (POST /certify, Certification.h).
#ifndef KIVO_HOST_WEB_RUN_CATALOGUE_H
#define KIVO_HOST_WEB_RUN_CATALOGUE_H

#include <cstddef>
#include <optional>
#include <string>

namespace kivo::web {

// The judgements a shift gives a run.
inline constexpr const char* kCertificationVerdicts[] = {"Good", "Bad", "not for analysis"};
// A comment's length at most, in bytes of UTF-8.
inline constexpr std::size_t kMaxCertificationComment = 500;

// What /runs.json?stand=&verdict=&certification=&since=&until=&last= asks for;
// empty texts ask for no filter.
struct RunsQuery {
  std::string stand;
  std::string verdict;        // the final overall verdict: Good, Medium, Bad or Null
  std::string certification;  // the latest judgement, or "none" for runs without one
  std::string since, until;   // first event on or after, on or before: a date or a time in UTC
  int last = 1000;            // the latest runs (by first event) at most
};
inline constexpr int kMaxRunsListed = 10000;

// Empty, or what is wrong with the query string's filters.
std::string parse_runs_query(const char* query_string, RunsQuery& query);

// "2024-05-01" or "2024-05-01T03:12:45Z".
bool is_run_date(const std::string& text);
// The first event time that `until` still includes: the end of a date's day.
std::string until_limit(const std::string& until);

// Empty, or why a judgement cannot be stored: a verdict other than the three,
// a comment too long, not UTF-8 or with control characters, or missing for a
// run judged Bad or not for analysis.
std::string certification_problem(const std::string& verdict, const std::string& comment);

struct CertifyRequest {
  long long run_id = 0;  // the registry's id of the run, as /runs.json gives it
  std::string verdict, comment, user;
};

// An HTTP status and its JSON body.
struct CatalogueAnswer {
  int status = 200;
  std::string body;
};

class RunCatalogue {
 public:
  virtual ~RunCatalogue() = default;
  // The runs as /runs.json gives them; none, with `error`, when the registry
  // cannot be read now (the display then lists the archive's files).
  virtual std::optional<std::string> runs_json(const RunsQuery& query, std::string& error) = 0;
  // Stores one judgement, kept beside the earlier ones.
  virtual CatalogueAnswer certify(const CertifyRequest& request) = 0;
};

}  // namespace kivo::web

#endif
