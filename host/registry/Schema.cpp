#include "Schema.h"

#include <algorithm>
#include <charconv>

namespace kivo::registry {

namespace {

constexpr const char* kTables[] = {"kivo_schema", "kivo_runs", "kivo_verdicts", "kivo_figures",
                                   "kivo_certifications"};

// The tables of this database, any owner's.
std::vector<std::string> table_names(Database& database) {
  const std::string sql = database.engine() == Engine::sqlite
                              ? "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite_%'"
                              : "SELECT table_name FROM information_schema.tables WHERE table_schema = current_schema()";
  std::vector<std::string> names;
  for (const Row& row : database.query(sql))
    if (row[0]) names.push_back(*row[0]);
  return names;
}

bool is_kivo_table(const std::string& name) {
  return std::find(std::begin(kTables), std::end(kTables), name) != std::end(kTables);
}

// Version 1: every table.
void create_version_1(Database& database) {
  const std::string id = database.id_column();
  const std::string text = std::string(database.byte_text()) + " NOT NULL";
  database.execute("CREATE TABLE kivo_schema (version INTEGER NOT NULL)");
  database.execute("INSERT INTO kivo_schema (version) VALUES (0)");
  database.execute(
      "CREATE TABLE kivo_runs ("
      " id " + id + ","
      " stand " + text + ","
      " run INTEGER NOT NULL,"
      " file " + text + ","
      " first_event " + text + ","
      " last_event " + text + ","
      " data_events BIGINT,"
      " begin_seen SMALLINT,"
      " end_seen SMALLINT,"
      " kivo_version TEXT NOT NULL,"
      " path TEXT,"
      " bytes BIGINT,"
      " overall TEXT NOT NULL,"
      " overall_reason TEXT NOT NULL,"
      " recorded_at TEXT NOT NULL,"
      " UNIQUE (stand, run, file, first_event))");
  database.execute("CREATE INDEX kivo_runs_first_event ON kivo_runs (first_event)");
  database.execute(
      "CREATE TABLE kivo_verdicts ("
      " run_id BIGINT NOT NULL REFERENCES kivo_runs (id),"
      " name " + text + ","
      " check_name TEXT NOT NULL,"
      " stave INTEGER,"
      " chip INTEGER,"
      " verdict TEXT NOT NULL,"
      " reason TEXT NOT NULL,"
      " PRIMARY KEY (run_id, name))");
  database.execute(
      "CREATE TABLE kivo_figures ("
      " run_id BIGINT NOT NULL REFERENCES kivo_runs (id),"
      " name " + text + ","
      " value DOUBLE PRECISION NOT NULL,"
      " PRIMARY KEY (run_id, name))");
  database.execute(
      "CREATE TABLE kivo_certifications ("
      " id " + id + ","
      " token TEXT NOT NULL UNIQUE,"
      " run_id BIGINT NOT NULL REFERENCES kivo_runs (id),"
      " verdict TEXT NOT NULL,"
      " comment TEXT NOT NULL,"
      " user_name TEXT NOT NULL,"
      " certified_at TEXT NOT NULL)");
  database.execute("CREATE INDEX kivo_certifications_run ON kivo_certifications (run_id)");
}

// Each step brings the schema from the version before it to its own.
using Step = void (*)(Database&);
constexpr Step kSteps[kSchemaVersion] = {create_version_1};

[[noreturn]] void not_a_registry(const std::string& shown, const std::string& why) {
  throw DatabaseError(Failure::refused, shown + ": not a kivo run registry: " + why);
}

int stored_version(Database& database, const std::string& shown) {
  const std::vector<Row> rows = database.query("SELECT version FROM kivo_schema");
  if (rows.size() != 1 || !rows[0][0]) not_a_registry(shown, "its kivo_schema table does not hold one version");
  int version = -1;
  const std::string& text = *rows[0][0];
  const auto [end, status] = std::from_chars(text.data(), text.data() + text.size(), version);
  if (status != std::errc() || end != text.data() + text.size() || version < 0)
    not_a_registry(shown, "its schema version '" + text + "' is not a number");
  return version;
}

}  // namespace

void prepare_schema(Database& database, const std::string& shown) {
  Transaction transaction(database, true);
  const std::vector<std::string> tables = table_names(database);
  int version = 0;
  if (std::find(tables.begin(), tables.end(), "kivo_schema") != tables.end()) {
    version = stored_version(database, shown);
  } else {
    // An SQLite file is the registry's alone; a PostgreSQL database may hold
    // other tables beside it, but not ours without their version.
    for (const std::string& name : tables)
      if (database.engine() == Engine::sqlite || is_kivo_table(name))
        not_a_registry(shown, "it holds a table '" + name + "' and no kivo_schema");
  }
  if (version > kSchemaVersion)
    throw DatabaseError(Failure::refused, shown + ": registry schema version " + std::to_string(version) +
                                              " is from a newer kivo (this one knows up to version " +
                                              std::to_string(kSchemaVersion) + ")");
  if (version == kSchemaVersion) return;
  for (int step = version; step < kSchemaVersion; ++step) kSteps[step](database);
  database.execute("UPDATE kivo_schema SET version = $1", {std::to_string(kSchemaVersion)});
  transaction.commit();
}

}  // namespace kivo::registry
