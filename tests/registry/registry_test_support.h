// A fresh registry of each engine for one test: an SQLite file in a
// temporary directory, or a database of its own on the suite's PostgreSQL
// server (the test is skipped, saying why, when there is none).
#ifndef KIVO_TESTS_REGISTRY_REGISTRY_TEST_SUPPORT_H
#define KIVO_TESTS_REGISTRY_REGISTRY_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>
#include <string>

#include "Database.h"
#include "RegistryUrl.h"
#include "RunRecord.h"
#include "kivo_process.h"

namespace kivo::registry {
// The engine by name in test names.
void PrintTo(Engine engine, std::ostream* out);
}  // namespace kivo::registry

namespace kivo::test {

class EngineTest : public ::testing::TestWithParam<registry::Engine> {
 protected:
  void SetUp() override;
  void TearDown() override;
  // A connection with the tables made.
  std::unique_ptr<registry::Database> open() const;
  // A registry URL as --registry would take it.
  registry::RegistryUrl url;
  std::string directory;  // temporary, removed at the end
};

// The engine's name for test names.
std::string engine_name(const ::testing::TestParamInfo<registry::Engine>& info);

// A run as a run file describes it, with every field filled.
registry::RunRecord sample_record(const std::string& stand, int run, const std::string& first_event);

// Waits until `done`, polling; false when `timeout_ms` passed first.
bool eventually(const std::function<bool()>& done, int timeout_ms = kGenerousMs);

// A database of its own on the shared server; empty with `skip` when there is none.
std::string shared_database(const std::string& name, std::string& skip);

}  // namespace kivo::test

#endif
