#include "Database.h"

#include "PostgresDatabase.h"
#include "SqliteDatabase.h"

namespace kivo::registry {

std::unique_ptr<Database> connect(const RegistryUrl& url, int busy_ms) {
  if (url.engine == Engine::postgresql) return std::make_unique<PostgresDatabase>(url);
  return std::make_unique<SqliteDatabase>(url.location, busy_ms);
}

}  // namespace kivo::registry
