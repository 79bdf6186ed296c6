#include "PostgresDatabase.h"

#include <libpq-fe.h>

#include <memory>

namespace kivo::registry {

namespace {

// The advisory lock that schema changes hold, one kivo at a time.
constexpr const char* kSchemaLock = "SELECT pg_advisory_xact_lock(7386149)";

// Defaults that the URL's own parameters override.
constexpr const char* kDefaults[][2] = {
    {"connect_timeout", "3"},   {"application_name", "kivo"}, {"keepalives", "1"},
    {"keepalives_idle", "10"},  {"keepalives_interval", "5"}, {"keepalives_count", "3"},
    {"tcp_user_timeout", "15000"},
};

// libpq's messages take several lines, the later ones indented.
std::string one_line(const std::string& text) {
  std::string line;
  bool broken = false;
  for (char c : text) {
    if (c == '\n') {
      broken = true;
    } else if (broken && (c == ' ' || c == '\t')) {
      continue;
    } else {
      if (broken && !line.empty()) line += "; ";
      broken = false;
      line += c;
    }
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line;
}

// The failure an SQLSTATE stands for: connection, resources, shutdown and
// lock conflicts pass, anything else is the statement's own.
Failure failure_of(const char* state) {
  const std::string code = state ? state : "";
  if (code.starts_with("08") || code.starts_with("57P")) return Failure::unavailable;
  if (code.starts_with("53")) return Failure::full;
  if (code == "40001" || code == "40P01" || code == "55P03") return Failure::busy;
  return Failure::refused;
}

void ignore_notice(void*, const char*) {}

using Result = std::unique_ptr<PGresult, decltype(&PQclear)>;

}  // namespace

PostgresDatabase::PostgresDatabase(const RegistryUrl& url) : url_(url) {
  std::vector<const char*> keys, values;
  for (const auto& [key, value] : kDefaults) {
    keys.push_back(key);
    values.push_back(value);
  }
  keys.push_back("dbname");
  values.push_back(url.location.c_str());
  keys.push_back(nullptr);
  values.push_back(nullptr);
  connection_ = PQconnectdbParams(keys.data(), values.data(), 1);
  if (connection_ == nullptr) throw DatabaseError(Failure::unavailable, url.shown + ": out of memory");
  if (PQstatus(connection_) != CONNECTION_OK) {
    const std::string reason = one_line(PQerrorMessage(connection_));
    PQfinish(connection_);
    connection_ = nullptr;
    throw DatabaseError(Failure::unavailable, masked(url_, url_.shown + ": " + reason));
  }
  PQsetNoticeProcessor(connection_, ignore_notice, nullptr);
}

PostgresDatabase::~PostgresDatabase() { PQfinish(connection_); }

std::vector<Row> PostgresDatabase::query(const std::string& sql, const Params& params) {
  std::vector<const char*> values;
  for (const Text& param : params) values.push_back(param ? param->c_str() : nullptr);
  Result result(PQexecParams(connection_, sql.c_str(), int(values.size()), nullptr, values.data(), nullptr, nullptr,
                             0),
                PQclear);
  const ExecStatusType status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
    const bool gone = PQstatus(connection_) != CONNECTION_OK;
    const Failure failure =
        gone ? Failure::unavailable : failure_of(result ? PQresultErrorField(result.get(), PG_DIAG_SQLSTATE) : nullptr);
    throw DatabaseError(failure, masked(url_, url_.shown + ": " + one_line(PQerrorMessage(connection_))));
  }
  std::vector<Row> rows;
  const int columns = PQnfields(result.get());
  for (int r = 0; r < PQntuples(result.get()); ++r) {
    Row row;
    for (int c = 0; c < columns; ++c) {
      if (PQgetisnull(result.get(), r, c))
        row.emplace_back();
      else
        row.emplace_back(std::string(PQgetvalue(result.get(), r, c), std::size_t(PQgetlength(result.get(), r, c))));
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

void PostgresDatabase::begin(bool exclusive) {
  execute("BEGIN");
  if (exclusive) execute(kSchemaLock);
}

void PostgresDatabase::commit() { execute("COMMIT"); }

void PostgresDatabase::rollback() noexcept {
  if (PQtransactionStatus(connection_) != PQTRANS_IDLE && PQstatus(connection_) == CONNECTION_OK)
    Result(PQexec(connection_, "ROLLBACK"), PQclear);
}


}  // namespace kivo::registry
