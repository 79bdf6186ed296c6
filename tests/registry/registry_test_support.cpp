#include "registry_test_support.h"

#include <unistd.h>

#include <cctype>
#include <chrono>
#include <thread>
#include <filesystem>

#include "Schema.h"
#include "kivo_process.h"
#include "pg_cluster.h"

namespace kivo::registry {
void PrintTo(Engine engine, std::ostream* out) { *out << (engine == Engine::sqlite ? "SQLite" : "PostgreSQL"); }
}  // namespace kivo::registry

namespace kivo::test {

namespace {

// A database name from the test's name: letters, digits and underscores.
std::string database_name() {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string("t_") + info->test_suite_name() + "_" + info->name();
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  for (char& c : name) c = char(std::tolower(static_cast<unsigned char>(c)));
  return name.substr(0, 50) + "_" + std::to_string(::getpid());
}

}  // namespace

std::string shared_database(const std::string& name, std::string& skip) {
  const PgCluster cluster = PgCluster::shared(skip);
  if (!skip.empty()) return {};
  std::string created = cluster.create_database(name, skip);
  if (!skip.empty()) skip = "cannot create a database on the tests' PostgreSQL server: " + skip;
  return created;
}

bool eventually(const std::function<bool()>& done, int timeout_ms) {
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > give_up) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

void EngineTest::SetUp() {
  directory = temporary_directory();
  std::string text = directory + "/registry.sqlite";
  if (GetParam() == registry::Engine::postgresql) {
    std::string skip;
    text = shared_database(database_name(), skip);
    if (!skip.empty()) GTEST_SKIP() << skip;
  }
  ASSERT_EQ(registry::parse_registry_url(text, url), "");
}

void EngineTest::TearDown() {
  std::error_code error;
  std::filesystem::remove_all(directory, error);
}

std::unique_ptr<registry::Database> EngineTest::open() const {
  std::unique_ptr<registry::Database> database = registry::connect(url, 5000);
  registry::prepare_schema(*database, url.shown);
  return database;
}

std::string engine_name(const ::testing::TestParamInfo<registry::Engine>& info) {
  return info.param == registry::Engine::sqlite ? "SQLite" : "PostgreSQL";
}

registry::RunRecord sample_record(const std::string& stand, int run, const std::string& first_event) {
  registry::RunRecord record;
  record.stand = stand;
  record.run = run;
  record.file = "run" + std::to_string(run) + ".root";
  record.path = "/data/archive/" + record.file;
  record.bytes = 8'589'934'592LL + run;  // past 32 bits
  record.first_event = first_event;
  record.last_event = first_event.substr(0, 11) + "23:59:59Z";
  record.data_events = 3'000'000'000LL;
  record.begin_seen = true;
  record.end_seen = false;
  record.version = "0.9.0";
  record.overall = "Medium";
  record.overall_reason = "stave 2: 1 check Medium";
  record.verdicts = {{"occupancy_2_5", "occupancy", 2, 5, "Medium", "stave 2, chip 5: 40% fewer hits; \"quoted\" — ü"},
                     {"hit_rate", "hit_rate", std::nullopt, std::nullopt, "Good", ""},
                     {"hot_pixels_3", "hot_pixels", 3, std::nullopt, "Null", "stave 3: 12 events so far"}};
  record.figures = {{"hits_per_event_0", 12.125}, {"beam_column_0", 4607.35420000001}, {"missing_packet_fraction", 0}};
  return record;
}

}  // namespace kivo::test
