// One connection to the registry's database, the same for SQLite and
// PostgreSQL: statements with $1, $2, ... parameters, values passed and read
// as text (NULL as none), transactions. A failure throws DatabaseError,
// which says what the caller can do about it.
#ifndef KIVO_HOST_REGISTRY_DATABASE_H
#define KIVO_HOST_REGISTRY_DATABASE_H

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "RegistryUrl.h"

namespace kivo::registry {

using Text = std::optional<std::string>;
using Params = std::vector<Text>;
using Row = std::vector<Text>;

enum class Failure {
  busy,         // another writer holds the database: try again soon
  unavailable,  // it cannot be reached or opened now (a server down, a network away)
  full,         // the disk or the server has no room
  refused,      // the database refuses this statement or is not a registry: trying again does not help
};

class DatabaseError : public std::runtime_error {
 public:
  DatabaseError(Failure failure, const std::string& message) : std::runtime_error(message), failure_(failure) {}
  Failure failure() const { return failure_; }
  // Whether the same write may succeed later unchanged.
  bool transient() const { return failure_ != Failure::refused; }

 private:
  Failure failure_;
};

class Database {
 public:
  virtual ~Database() = default;
  virtual Engine engine() const = 0;
  // Runs one statement; the rows it gives, each column as text.
  virtual std::vector<Row> query(const std::string& sql, const Params& params = {}) = 0;
  void execute(const std::string& sql, const Params& params = {}) { query(sql, params); }
  // A write transaction; an exclusive one (schema changes) also keeps other
  // kivos' exclusive ones out until it ends.
  virtual void begin(bool exclusive = false) = 0;
  virtual void commit() = 0;
  virtual void rollback() noexcept = 0;
  // The column type of an id that numbers itself.
  virtual const char* id_column() const = 0;
  // The type of a text column compared and ordered byte by byte, whatever
  // the server's locale, so that both engines order runs alike.
  virtual const char* byte_text() const = 0;
};

// Connects to the registry `url` names; waits `busy_ms` at most for a locked
// SQLite file. Throws DatabaseError with the URL masked.
std::unique_ptr<Database> connect(const RegistryUrl& url, int busy_ms);

// A transaction rolled back unless committed.
class Transaction {
 public:
  explicit Transaction(Database& database, bool exclusive = false) : database_(database) {
    database_.begin(exclusive);
  }
  ~Transaction() {
    if (!done_) database_.rollback();
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  void commit() {
    database_.commit();
    done_ = true;
  }

 private:
  Database& database_;
  bool done_ = false;
};

}  // namespace kivo::registry

#endif
