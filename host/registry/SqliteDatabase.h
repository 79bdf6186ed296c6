// The registry in an SQLite file, in WAL mode, so that the page's reads never
// wait for a writer and two kivos can write one file, each waiting its turn
// for a bounded time (then the write is busy and tried again later).
#ifndef KIVO_HOST_REGISTRY_SQLITE_DATABASE_H
#define KIVO_HOST_REGISTRY_SQLITE_DATABASE_H

#include "Database.h"

struct sqlite3;

namespace kivo::registry {

class SqliteDatabase : public Database {
 public:
  // Opens (creating) the file; throws DatabaseError naming it.
  SqliteDatabase(const std::string& path, int busy_ms);
  ~SqliteDatabase() override;
  SqliteDatabase(const SqliteDatabase&) = delete;
  SqliteDatabase& operator=(const SqliteDatabase&) = delete;

  Engine engine() const override { return Engine::sqlite; }
  std::vector<Row> query(const std::string& sql, const Params& params = {}) override;
  void begin(bool exclusive = false) override;
  void commit() override;
  void rollback() noexcept override;
  const char* id_column() const override { return "INTEGER PRIMARY KEY"; }
  const char* byte_text() const override { return "TEXT"; }

 private:
  [[noreturn]] void fail(int code) const;

  std::string path_;
  sqlite3* handle_ = nullptr;
};

// "$1" -> "?1": SQLite's numbered parameters.
std::string sqlite_parameters(const std::string& sql);

}  // namespace kivo::registry

#endif
