#include "SqliteDatabase.h"

#include <sqlite3.h>

#include <cctype>
#include <memory>

namespace kivo::registry {

namespace {

Failure failure_of(int code) {
  switch (code & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return Failure::busy;
    case SQLITE_FULL:
      return Failure::full;
    case SQLITE_CANTOPEN:
    case SQLITE_IOERR:
    case SQLITE_READONLY:
    case SQLITE_PERM:
      return Failure::unavailable;
    default:
      return Failure::refused;
  }
}

using Statement = std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)>;

}  // namespace

std::string sqlite_parameters(const std::string& sql) {
  std::string converted = sql;
  for (std::size_t at = 0; at + 1 < converted.size(); ++at)
    if (converted[at] == '$' && std::isdigit(static_cast<unsigned char>(converted[at + 1]))) converted[at] = '?';
  return converted;
}

SqliteDatabase::SqliteDatabase(const std::string& path, int busy_ms) : path_(path) {
  const int opened = sqlite3_open_v2(path.c_str(), &handle_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  if (opened != SQLITE_OK) {
    const std::string reason = handle_ ? sqlite3_errmsg(handle_) : sqlite3_errstr(opened);
    sqlite3_close(handle_);
    handle_ = nullptr;
    throw DatabaseError(failure_of(opened), path + ": cannot open: " + reason);
  }
  sqlite3_extended_result_codes(handle_, 1);
  sqlite3_busy_timeout(handle_, busy_ms);
  try {
    // Readers (the page) then never wait for a writer, nor a writer for them.
    const std::vector<Row> mode = query("PRAGMA journal_mode=WAL");
    if (mode.empty() || !mode[0][0] || *mode[0][0] != "wal")
      throw DatabaseError(Failure::refused, path + ": cannot be put in WAL mode");
    execute("PRAGMA foreign_keys=ON");
  } catch (...) {
    sqlite3_close(handle_);
    handle_ = nullptr;
    throw;
  }
}

SqliteDatabase::~SqliteDatabase() { sqlite3_close(handle_); }

void SqliteDatabase::fail(int code) const {
  std::string reason = sqlite3_errmsg(handle_);
  if ((code & 0xff) == SQLITE_NOTADB) reason = "not an SQLite database (" + reason + ")";
  throw DatabaseError(failure_of(code), path_ + ": " + reason);
}

std::vector<Row> SqliteDatabase::query(const std::string& sql, const Params& params) {
  sqlite3_stmt* prepared = nullptr;
  const std::string text = sqlite_parameters(sql);
  if (const int code = sqlite3_prepare_v2(handle_, text.c_str(), int(text.size()), &prepared, nullptr);
      code != SQLITE_OK)
    fail(code);
  Statement statement(prepared, sqlite3_finalize);
  for (std::size_t i = 0; i < params.size(); ++i) {
    const int index = int(i) + 1;
    const int code = params[i] ? sqlite3_bind_text(prepared, index, params[i]->data(), int(params[i]->size()),
                                                   SQLITE_TRANSIENT)
                               : sqlite3_bind_null(prepared, index);
    if (code != SQLITE_OK) fail(code);
  }
  std::vector<Row> rows;
  for (;;) {
    const int code = sqlite3_step(prepared);
    if (code == SQLITE_DONE) return rows;
    if (code != SQLITE_ROW) fail(code);
    Row row;
    for (int c = 0; c < sqlite3_column_count(prepared); ++c) {
      if (sqlite3_column_type(prepared, c) == SQLITE_NULL) {
        row.emplace_back();
        continue;
      }
      const auto* value = reinterpret_cast<const char*>(sqlite3_column_text(prepared, c));
      row.emplace_back(std::string(value, std::size_t(sqlite3_column_bytes(prepared, c))));
    }
    rows.push_back(std::move(row));
  }
}

// IMMEDIATE: the write lock is taken at the start, so that two writers never
// both read and then both fail to upgrade.
void SqliteDatabase::begin(bool) { execute("BEGIN IMMEDIATE"); }

void SqliteDatabase::commit() { execute("COMMIT"); }

void SqliteDatabase::rollback() noexcept {
  if (!sqlite3_get_autocommit(handle_)) sqlite3_exec(handle_, "ROLLBACK", nullptr, nullptr, nullptr);
}

}  // namespace kivo::registry
