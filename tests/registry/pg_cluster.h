// PostgreSQL servers of the tests' own: initdb and pg_ctl from Debian's
// postgresql package, in temporary directories, on free loopback ports, run
// by the unprivileged user "postgres" when the tests run as root (initdb
// refuses root). The suite shares one server, started and stopped by the
// CTest fixture program kivo-test-pg; a test that stops a server starts a
// private one from the same initialised template.
#ifndef KIVO_TESTS_REGISTRY_PG_CLUSTER_H
#define KIVO_TESTS_REGISTRY_PG_CLUSTER_H

#include <string>

namespace kivo::test {

class PgCluster {
 public:
  // Initialises a template cluster in a new temporary directory; empty, or
  // why no server can run here.
  static std::string make_template(std::string& directory);

  // A server whose data directory is a copy of the template in `base`.
  static PgCluster copy_of(const std::string& base, std::string& error);
  // The suite's shared server, as the fixture wrote it in the file that
  // KIVO_TEST_PG names; empty error, or why there is none (the test is skipped).
  static PgCluster shared(std::string& error);
  // A server of one test's own, made from the suite's template and started,
  // for a test that stops it; empty `skip`, or why there is none.
  static PgCluster started_private(std::string& skip);

  PgCluster() = default;
  PgCluster(std::string directory, int port) : directory_(std::move(directory)), port_(port) {}

  // Starts the server on its port (a free one when it has none yet).
  bool start(std::string& error);
  bool stop(std::string& error);
  // Removes the directory of a private server.
  void remove();

  int port() const { return port_; }
  const std::string& directory() const { return directory_; }
  std::string data_directory() const { return directory_ + "/data"; }
  // postgresql://kivo@127.0.0.1:PORT/DATABASE
  std::string url(const std::string& database = "postgres") const;
  // Creates a database of that name (dropped first when it exists); its URL.
  std::string create_database(const std::string& name, std::string& error) const;

 private:
  std::string directory_;
  int port_ = 0;
};

// Writes and reads the fixture's state file: the template's directory and
// the shared server's directory and port.
bool write_pg_state(const std::string& file, const std::string& base, const PgCluster& shared);

}  // namespace kivo::test

#endif
