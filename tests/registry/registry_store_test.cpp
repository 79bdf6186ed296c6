// The registry's tables on both engines: a run recorded with every field and
// read back alike, recorded again without losing its judgements, the shift's
// judgements kept as a history, the runs list's filters, the schema's
// version and databases that are not registries, and two writers at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <thread>
#include <tuple>

#include "RegistryStore.h"
#include "Schema.h"
#include "kivo_process.h"
#include "registry_test_support.h"

namespace kivo::test {
namespace {

using registry::CertificationRequest;
using registry::DatabaseError;
using registry::Failure;
using registry::RegisteredRun;
using registry::RunRecord;

using RegistryStore = EngineTest;

CertificationRequest judgement(long long run_id, const std::string& verdict, const std::string& comment,
                               const std::string& token) {
  CertificationRequest request;
  request.token = token;
  request.run_id = run_id;
  request.verdict = verdict;
  request.comment = comment;
  request.user = "shifter";
  request.at = "2024-05-01T04:00:00Z";
  return request;
}

std::vector<RegisteredRun> all_runs(registry::Database& database) {
  web::RunsQuery query;
  query.last = web::kMaxRunsListed;
  return registry::select_runs(database, query, true);
}

// A run's own facts, compared at once (gtest prints both sides whole).
auto facts_of(const RunRecord& record) {
  return std::tie(record.stand, record.run, record.file, record.path, record.bytes, record.first_event,
                  record.last_event, record.data_events, record.begin_seen, record.end_seen, record.version,
                  record.overall, record.overall_reason);
}

void expect_same_record(const RunRecord& stored, const RunRecord& given) {
  EXPECT_EQ(facts_of(stored), facts_of(given));
  ASSERT_EQ(stored.verdicts.size(), given.verdicts.size());
  for (const registry::RunVerdict& verdict : given.verdicts) {
    const auto found = std::find_if(stored.verdicts.begin(), stored.verdicts.end(),
                                    [&](const registry::RunVerdict& v) { return v.name == verdict.name; });
    ASSERT_NE(found, stored.verdicts.end()) << verdict.name;
    EXPECT_EQ(found->check, verdict.check);
    EXPECT_EQ(found->stave, verdict.stave);
    EXPECT_EQ(found->chip, verdict.chip);
    EXPECT_EQ(found->verdict, verdict.verdict);
    EXPECT_EQ(found->reason, verdict.reason);
  }
  ASSERT_EQ(stored.figures.size(), given.figures.size());
  for (const auto& [name, value] : given.figures) {
    const auto found = std::find_if(stored.figures.begin(), stored.figures.end(),
                                    [&](const auto& figure) { return figure.first == name; });
    ASSERT_NE(found, stored.figures.end()) << name;
    EXPECT_EQ(found->second, value) << name << ": read back exactly";
  }
}

TEST_P(RegistryStore, ARunIsRecordedWithEveryFieldAndReadBackAsGiven) {
  auto database = open();
  const RunRecord given = sample_record("stand A", 42, "2024-05-01T03:12:45Z");
  RunRecord unwritten = sample_record("stand A", 43, "2024-05-01T04:00:00Z");
  unwritten.path.reset();
  unwritten.bytes.reset();
  unwritten.data_events.reset();
  unwritten.begin_seen.reset();
  const long long id = registry::store_run(*database, given, "2024-05-01T03:13:00Z");
  registry::store_run(*database, unwritten, "2024-05-01T04:01:00Z");
  const std::vector<RegisteredRun> runs = all_runs(*database);
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0].id, id);
  expect_same_record(runs[0].record, given);
  EXPECT_EQ(runs[0].recorded_at, "2024-05-01T03:13:00Z");
  expect_same_record(runs[1].record, unwritten);
}

TEST_P(RegistryStore, RecordingARunAgainReplacesItsFactsAndKeepsItsJudgements) {
  auto database = open();
  RunRecord record = sample_record("A", 7, "2024-05-01T01:00:00Z");
  const long long id = registry::store_run(*database, record, "t1");
  registry::store_certification(*database, judgement(id, "Good", "", "token-1"));
  registry::store_certification(*database, judgement(id, "Bad", "beam mistuned", "token-2"));
  // The same judgement written twice, as a retry after a lost answer does.
  registry::store_certification(*database, judgement(id, "Bad", "beam mistuned", "token-2"));
  record.overall = "Bad";
  record.verdicts.pop_back();
  record.figures = {{"hits_per_event_0", 3.5}};
  EXPECT_EQ(registry::store_run(*database, record, "t2"), id);
  const std::vector<RegisteredRun> runs = all_runs(*database);
  ASSERT_EQ(runs.size(), 1u);
  expect_same_record(runs[0].record, record);
  ASSERT_EQ(runs[0].history.size(), 2u) << "both judgements, once each";
  EXPECT_EQ(runs[0].history[0].verdict, "Good");
  EXPECT_EQ(runs[0].history[1].verdict, "Bad");
  EXPECT_EQ(runs[0].history[1].comment, "beam mistuned");
  EXPECT_EQ(runs[0].history[1].user, "shifter");
  EXPECT_EQ(runs[0].history[1].run, 7);
}

TEST_P(RegistryStore, AJudgementFromThePromptTakesTheLatestFileOfItsRunAndAnUnknownRunIsRefused) {
  auto database = open();
  RunRecord first = sample_record("A", 31, "2024-05-01T01:00:00Z");
  RunRecord again = sample_record("A", 31, "2024-05-01T02:00:00Z");
  again.file = "run31_1.root";
  registry::store_run(*database, first, "t");
  const long long latest = registry::store_run(*database, again, "t");
  registry::store_run(*database, sample_record("B", 31, "2024-05-01T03:00:00Z"), "t");
  CertificationRequest request = judgement(0, "not for analysis", "beam mistuned", "token-3");
  request.run_id.reset();
  request.stand = "A";
  request.run = 31;
  const registry::StoredCertification stored = registry::store_certification(*database, request);
  EXPECT_EQ(stored.run_id, latest);
  EXPECT_EQ(stored.stand, "A");
  request.run = 32;
  request.token = "token-4";
  try {
    registry::store_certification(*database, request);
    ADD_FAILURE() << "run 32 is not in the registry";
  } catch (const DatabaseError& error) {
    EXPECT_EQ(error.failure(), Failure::refused);
    EXPECT_NE(std::string(error.what()).find("no run 32 of stand A"), std::string::npos) << error.what();
  }
  EXPECT_THROW(registry::store_certification(*database, judgement(999999, "Good", "", "token-5")), DatabaseError);
}

TEST_P(RegistryStore, TheRunsListFiltersByStandVerdictCertificationAndDate) {
  auto database = open();
  std::vector<long long> ids;
  for (int run = 1; run <= 6; ++run) {
    RunRecord record = sample_record(run % 2 ? "odd" : "even", run, "2024-05-0" + std::to_string(run) + "T12:00:00Z");
    record.overall = run <= 2 ? "Bad" : "Good";
    ids.push_back(registry::store_run(*database, record, "t"));
  }
  registry::store_certification(*database, judgement(ids[0], "Good", "", "a"));
  registry::store_certification(*database, judgement(ids[0], "Bad", "no beam", "b"));  // the latest counts
  registry::store_certification(*database, judgement(ids[1], "Good", "", "c"));
  auto runs_of = [&](web::RunsQuery query) {
    std::vector<int> numbers;
    for (const RegisteredRun& run : registry::select_runs(*database, query, false)) numbers.push_back(run.record.run);
    return numbers;
  };
  web::RunsQuery query;
  EXPECT_EQ(runs_of(query), (std::vector<int>{1, 2, 3, 4, 5, 6})) << "oldest first";
  query.stand = "odd";
  EXPECT_EQ(runs_of(query), (std::vector<int>{1, 3, 5}));
  query = {};
  query.verdict = "Bad";
  EXPECT_EQ(runs_of(query), (std::vector<int>{1, 2}));
  query = {};
  query.certification = "Bad";
  EXPECT_EQ(runs_of(query), (std::vector<int>{1}));
  query.certification = "Good";
  EXPECT_EQ(runs_of(query), (std::vector<int>{2}));
  query.certification = "none";
  EXPECT_EQ(runs_of(query), (std::vector<int>{3, 4, 5, 6}));
  query = {};
  query.since = "2024-05-03";
  query.until = "2024-05-05";
  EXPECT_EQ(runs_of(query), (std::vector<int>{3, 4, 5})) << "until takes the whole of its day";
  query.until = "2024-05-05T11:00:00Z";
  EXPECT_EQ(runs_of(query), (std::vector<int>{3, 4}));
  query = {};
  query.last = 2;
  EXPECT_EQ(runs_of(query), (std::vector<int>{5, 6})) << "the latest two";
}

TEST_P(RegistryStore, StandsAndFiguresAreOrderedByTheirBytesOnBothEngines) {
  auto database = open();
  for (const char* stand : {"a_b", "aB", "A", "ab"})
    registry::store_run(*database, sample_record(stand, 1, "2024-05-01T00:00:00Z"), "t");
  EXPECT_EQ(registry::stand_names(*database), (std::vector<std::string>{"A", "aB", "a_b", "ab"}));
  EXPECT_EQ(registry::figure_names(*database),
            (std::vector<std::string>{"beam_column_0", "hits_per_event_0", "missing_packet_fraction"}));
}

TEST_P(RegistryStore, ASchemaOfANewerKivoIsRefusedAndAnOlderOneIsKept) {
  {
    auto database = open();
    registry::store_run(*database, sample_record("A", 1, "2024-05-01T00:00:00Z"), "t");
    database->execute("UPDATE kivo_schema SET version = 99");
  }
  try {
    open();
    ADD_FAILURE() << "a registry of schema version 99 is taken";
  } catch (const DatabaseError& error) {
    EXPECT_EQ(error.failure(), Failure::refused);
    const std::string message = error.what();
    EXPECT_NE(message.find("schema version 99 is from a newer kivo"), std::string::npos) << message;
    EXPECT_NE(message.find(url.shown), std::string::npos) << "names the registry: " << message;
  }
}

TEST_P(RegistryStore, ADatabaseThatIsNotARegistryIsRefused) {
  {
    std::unique_ptr<registry::Database> database = registry::connect(url, 1000);
    database->execute("CREATE TABLE kivo_runs (x INTEGER)");
  }
  EXPECT_THROW(open(), DatabaseError);
}

TEST(RegistrySqlite, AFileThatIsNotAnSQLiteDatabaseOrHoldsOtherTablesIsRefused) {
  const std::string directory = temporary_directory();
  const std::string text = directory + "/notes.txt";
  { std::ofstream(text) << "these are my notes, not a database, and they are long enough to have a header\n"; }
  registry::RegistryUrl url;
  ASSERT_EQ(registry::parse_registry_url(text, url), "");
  try {
    auto database = registry::connect(url, 1000);
    registry::prepare_schema(*database, url.shown);
    ADD_FAILURE() << "a text file is taken as a registry";
  } catch (const DatabaseError& error) {
    EXPECT_EQ(error.failure(), Failure::refused);
    EXPECT_NE(std::string(error.what()).find(text), std::string::npos) << error.what();
  }
  const std::string other = directory + "/other.sqlite";
  ASSERT_EQ(registry::parse_registry_url(other, url), "");
  registry::connect(url, 1000)->execute("CREATE TABLE measurements (x REAL)");
  try {
    registry::prepare_schema(*registry::connect(url, 1000), url.shown);
    ADD_FAILURE() << "another application's database is taken";
  } catch (const DatabaseError& error) {
    EXPECT_NE(std::string(error.what()).find("not a kivo run registry"), std::string::npos) << error.what();
  }
  std::filesystem::remove_all(directory);
}

// Two writers, each with its own connection (two kivo processes do the same),
// store runs and judgements at once: every row arrives.
TEST_P(RegistryStore, TwoWritersAtOnceLoseNothing) {
  open();
  constexpr int kRuns = 25;
  auto write = [this](const std::string& stand) {
    std::unique_ptr<registry::Database> database = registry::connect(url, 10000);
    registry::prepare_schema(*database, url.shown);
    for (int run = 1; run <= kRuns; ++run) {
      const long long id = registry::store_run(*database, sample_record(stand, run, "2024-05-01T00:00:00Z"), "t");
      registry::store_certification(*database, judgement(id, "Good", "", stand + std::to_string(run)));
    }
  };
  std::thread first(write, "stand 1"), second(write, "stand 2");
  first.join();
  second.join();
  auto database = open();
  const std::vector<RegisteredRun> runs = all_runs(*database);
  EXPECT_EQ(runs.size(), std::size_t(2 * kRuns));
  for (const RegisteredRun& run : runs) EXPECT_EQ(run.history.size(), 1u) << run.record.stand << " " << run.record.run;
}

INSTANTIATE_TEST_SUITE_P(Engines, RegistryStore,
                         ::testing::Values(registry::Engine::sqlite, registry::Engine::postgresql), engine_name);

}  // namespace
}  // namespace kivo::test
