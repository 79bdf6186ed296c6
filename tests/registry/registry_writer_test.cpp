// The registry's writer: rows wait on disk while the database is locked or
// its server is down, are told once, and are written when it is back; what
// still waits at exit is written by the next writer of the same queue; the
// queue is bounded; a row the database refuses is set aside and the rest go
// on; a judgement of an unknown run is told and dropped.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>

#include "PendingQueue.h"
#include "RegistryStore.h"
#include "RegistryWriter.h"
#include "Schema.h"
#include "kivo_process.h"
#include "pg_cluster.h"
#include "registry_test_support.h"

namespace kivo::test {
namespace {

namespace fs = std::filesystem;
using registry::RegistryWriter;

// What the writer tells, gathered from its thread.
class Told {
 public:
  RegistryWriter::Report report() {
    return [this](const std::string& line) {
      const std::lock_guard lock(mutex_);
      lines_.push_back(line);
    };
  }
  int count(const std::string& part) const {
    const std::lock_guard lock(mutex_);
    return int(std::count_if(lines_.begin(), lines_.end(),
                             [&](const std::string& line) { return line.find(part) != std::string::npos; }));
  }
  std::string all() const {
    const std::lock_guard lock(mutex_);
    std::string text;
    for (const std::string& line : lines_) text += line + "\n";
    return text;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};


std::size_t rows_in(const registry::RegistryUrl& url) {
  auto database = registry::connect(url, 10000);
  registry::prepare_schema(*database, url.shown);
  web::RunsQuery query;
  query.last = web::kMaxRunsListed;
  return registry::select_runs(*database, query, false).size();
}

std::size_t files_in(const std::string& directory) {
  std::error_code error;
  std::size_t count = 0;
  for (fs::directory_iterator it(directory, error), end; !error && it != end; it.increment(error))
    count += it->is_regular_file() ? 1 : 0;
  return count;
}

using RegistryWriterTest = EngineTest;

// Another writer holds the SQLite file (a transaction left open): the rows
// wait, then go in once it lets go; an earlier writer's rows are written by
// the next one.
TEST(RegistryWriterSqlite, RowsWaitWhileTheFileIsLockedAndAreWrittenOnceItIsFree) {
  const std::string directory = temporary_directory();
  registry::RegistryUrl url;
  ASSERT_EQ(registry::parse_registry_url(directory + "/registry.sqlite", url), "");
  const std::string queue = directory + "/registry-pending";
  auto holder = registry::connect(url, 1000);
  registry::prepare_schema(*holder, url.shown);
  holder->begin();
  Told told;
  {
    RegistryWriter writer(url, queue, told.report());
    writer.record(sample_record("A", 1, "2024-05-01T01:00:00Z"));
    writer.record(sample_record("A", 2, "2024-05-01T02:00:00Z"));
    ASSERT_TRUE(eventually([&] { return told.count("cannot write to") == 1; })) << told.all();
    EXPECT_EQ(writer.pending(), 2u);
    EXPECT_EQ(files_in(queue), 2u) << "on disk beside the archive";
    writer.finish(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(told.count("cannot write to"), 1) << "said once: " << told.all();
  EXPECT_EQ(told.count("2 rows wait in " + queue), 1) << told.all();
  holder->rollback();
  holder.reset();

  Told next;
  RegistryWriter writer(url, queue, next.report());
  EXPECT_EQ(next.count("2 rows that an earlier kivo left waiting"), 1) << next.all();
  ASSERT_TRUE(eventually([&] { return writer.pending() == 0; })) << next.all();
  writer.finish(std::chrono::seconds(5));
  EXPECT_EQ(rows_in(url), 2u);
  EXPECT_FALSE(fs::exists(queue)) << "nothing left waiting";
  fs::remove_all(directory);
}

// The server stops for two runs and starts again: three rows, said once
// that they wait and once that they are written.
TEST(RegistryWriterPostgresql, RowsWaitWhileTheServerIsDownAndAreWrittenWhenItIsBack) {
  std::string skip;
  PgCluster server = PgCluster::started_private(skip);
  if (!skip.empty()) GTEST_SKIP() << skip;
  std::string error;
  registry::RegistryUrl url;
  ASSERT_EQ(registry::parse_registry_url(server.url(), url), "");
  const std::string directory = temporary_directory();
  Told told;
  RegistryWriter writer(url, directory + "/registry-pending", told.report());
  writer.record(sample_record("A", 1, "2024-05-01T01:00:00Z"));
  ASSERT_TRUE(eventually([&] { return writer.written() == 1; })) << told.all();
  ASSERT_TRUE(server.stop(error)) << error;
  writer.record(sample_record("A", 2, "2024-05-01T02:00:00Z"));
  writer.record(sample_record("A", 3, "2024-05-01T03:00:00Z"));
  ASSERT_TRUE(eventually([&] { return told.count("cannot write to") == 1 && writer.pending() == 2; })) << told.all();
  ASSERT_TRUE(server.start(error)) << error;
  ASSERT_TRUE(eventually([&] { return writer.pending() == 0; })) << told.all();
  writer.finish(std::chrono::seconds(5));
  EXPECT_EQ(rows_in(url), 3u);
  EXPECT_EQ(told.count("cannot write to"), 1) << told.all();
  EXPECT_EQ(told.count("is back: 2 rows that waited written"), 1) << told.all();
  server.stop(error);
  server.remove();
  fs::remove_all(directory);
}

TEST_P(RegistryWriterTest, ARefusedRowIsSetAsideAndTheOthersAreWritten) {
  const std::string queue = directory + "/registry-pending";
  fs::create_directories(queue);
  std::ofstream(queue + "/00000000000000000001-1-000000-run.json") << "{\"not\": \"a run\"}";
  Told told;
  RegistryWriter writer(url, queue, told.report());
  writer.record(sample_record("A", 5, "2024-05-01T05:00:00Z"));
  ASSERT_TRUE(eventually([&] { return writer.pending() == 0; })) << told.all();
  writer.finish(std::chrono::seconds(5));
  EXPECT_EQ(rows_in(url), 1u);
  EXPECT_EQ(files_in(queue + "/refused"), 1u) << told.all();
  EXPECT_EQ(told.count("kept in " + queue + "/refused/"), 1) << told.all();
}

TEST_P(RegistryWriterTest, AJudgementFromThePromptIsStoredOrToldWhenItsRunIsUnknown) {
  Told told;
  RegistryWriter writer(url, directory + "/registry-pending", told.report());
  writer.record(sample_record("A", 31, "2024-05-01T05:00:00Z"));
  registry::CertificationRequest request;
  request.token = registry::new_token();
  request.stand = "A";
  request.run = 31;
  request.verdict = "Bad";
  request.comment = "beam mistuned";
  request.user = "shifter";
  request.at = registry::utc_now();
  writer.certify(request);
  request.token = registry::new_token();
  request.run = 32;
  writer.certify(request);
  writer.finish(std::chrono::seconds(10));
  EXPECT_EQ(told.count("run 31 of A certified Bad by shifter (beam mistuned)"), 1) << told.all();
  EXPECT_EQ(told.count("the judgement of run 32 is not stored"), 1) << told.all();
  EXPECT_EQ(writer.pending(), 0u);
}

TEST(PendingQueue, RowsAreTakenInTheOrderTheyCameAndTheirNumberIsBounded) {
  const std::string directory = temporary_directory() + "/queue";
  registry::PendingQueue queue(directory, 3);
  std::string error;
  for (const char* body : {"first", "second", "third"}) ASSERT_TRUE(queue.push("run", body, error)) << error;
  EXPECT_FALSE(queue.push("run", "fourth", error));
  EXPECT_NE(error.find("3 rows wait already"), std::string::npos) << error;
  std::vector<std::string> bodies;
  for (const registry::PendingQueue::Entry& entry : queue.list()) {
    std::string body;
    ASSERT_TRUE(queue.read(entry, body, error)) << error;
    bodies.push_back(body);
    EXPECT_EQ(entry.kind, "run");
  }
  EXPECT_EQ(bodies, (std::vector<std::string>{"first", "second", "third"}));
  for (const registry::PendingQueue::Entry& entry : queue.list()) queue.remove(entry);
  queue.tidy();
  EXPECT_FALSE(fs::exists(directory));
  fs::remove_all(fs::path(directory).parent_path());
}

INSTANTIATE_TEST_SUITE_P(Engines, RegistryWriterTest,
                         ::testing::Values(registry::Engine::sqlite, registry::Engine::postgresql), engine_name);

}  // namespace
}  // namespace kivo::test
