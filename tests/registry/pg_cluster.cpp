#include "pg_cluster.h"

#include <arpa/inet.h>
#include <libpq-fe.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include "kivo_process.h"

namespace kivo::test {

namespace {

namespace fs = std::filesystem;

constexpr const char* kServerUser = "postgres";
constexpr const char* kDatabaseUser = "kivo";

// The newest server programs Debian installed: /usr/lib/postgresql/<version>/bin.
std::string server_bin() {
  std::string best;
  int best_version = -1;
  std::error_code error;
  for (fs::directory_iterator it("/usr/lib/postgresql", error), end; !error && it != end; it.increment(error)) {
    const int version = std::atoi(it->path().filename().c_str());
    if (version > best_version && fs::exists(it->path() / "bin" / "initdb")) {
      best_version = version;
      best = (it->path() / "bin").string();
    }
  }
  return best;
}

bool as_root() { return ::geteuid() == 0; }

// `argv` run as the server's user: as root through runuser.
Finished run_as_server(std::vector<std::string> argv) {
  if (as_root()) argv.insert(argv.begin(), {"/usr/sbin/runuser", "-u", kServerUser, "--"});
  return run_program(argv);
}

std::string hand_to_server_user(const std::string& directory) {
  if (!as_root()) return {};
  const passwd* user = ::getpwnam(kServerUser);
  if (user == nullptr) return "the tests run as root and there is no user 'postgres' to run the server";
  if (::chown(directory.c_str(), user->pw_uid, user->pw_gid) != 0) return "cannot hand " + directory + " to postgres";
  return {};
}

int free_port() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    port = ntohs(address.sin_port);
  ::close(fd);
  return port;
}

std::string new_directory() {
  char pattern[] = "/tmp/kivo-pg-XXXXXX";
  if (!::mkdtemp(pattern)) return {};
  return pattern;
}

std::string quoted_identifier(const std::string& name) { return "\"" + name + "\""; }

}  // namespace

std::string PgCluster::make_template(std::string& directory) {
  const std::string bin = server_bin();
  if (bin.empty()) return "Debian's postgresql package is not installed (no /usr/lib/postgresql/*/bin/initdb)";
  directory = new_directory();
  if (directory.empty()) return "cannot make a temporary directory";
  if (std::string problem = hand_to_server_user(directory); !problem.empty()) return problem;
  const Finished made = run_as_server({bin + "/initdb", "-D", directory + "/template", "-A", "trust", "-U",
                                       kDatabaseUser, "-E", "UTF8", "--locale=C", "--no-sync"});
  if (made.status != 0) return "initdb failed: " + made.out + made.err;
  return {};
}

PgCluster PgCluster::copy_of(const std::string& base, std::string& error) {
  PgCluster cluster(new_directory(), 0);
  if (cluster.directory_.empty()) {
    error = "cannot make a temporary directory";
    return cluster;
  }
  error = hand_to_server_user(cluster.directory_);
  if (!error.empty()) return cluster;
  const Finished copied = run_as_server({"/bin/cp", "-a", base + "/template", cluster.data_directory()});
  if (copied.status != 0) error = "cannot copy the template: " + copied.err;
  return cluster;
}

PgCluster PgCluster::shared(std::string& error) {
  const char* file = std::getenv("KIVO_TEST_PG");
  if (file == nullptr) {
    error = "KIVO_TEST_PG is not set: the tests run without the PostgreSQL fixture";
    return {};
  }
  std::ifstream in(file);
  std::string base, directory;
  int port = 0;
  if (!(in >> base)) {
    error = std::string("no PostgreSQL server: ") + file + " does not name one";
    return {};
  }
  if (base == "unavailable") {
    std::getline(in, error);
    error = "no PostgreSQL server:" + error;
    return {};
  }
  in >> directory >> port;
  error.clear();
  return PgCluster(directory, port);
}

PgCluster PgCluster::started_private(std::string& skip) {
  shared(skip);
  if (!skip.empty()) return {};
  std::ifstream state(std::getenv("KIVO_TEST_PG"));
  std::string base;
  state >> base;
  PgCluster server = copy_of(base, skip);
  if (skip.empty()) server.start(skip);
  return server;
}

bool PgCluster::start(std::string& error) {
  if (port_ == 0) port_ = free_port();
  const std::string options = "-p " + std::to_string(port_) + " -k " + directory_ +
                              " -c listen_addresses=127.0.0.1 -c fsync=off -c full_page_writes=off"
                              " -c synchronous_commit=off -c max_connections=40 -c shared_buffers=16MB";
  const Finished started = run_as_server(
      {server_bin() + "/pg_ctl", "-D", data_directory(), "-o", options, "-l", directory_ + "/log", "-w", "start"});
  if (started.status != 0) error = "pg_ctl start failed: " + started.out + started.err;
  return started.status == 0;
}

bool PgCluster::stop(std::string& error) {
  const Finished stopped = run_as_server({server_bin() + "/pg_ctl", "-D", data_directory(), "-m", "fast", "-w", "stop"});
  if (stopped.status != 0) error = "pg_ctl stop failed: " + stopped.out + stopped.err;
  return stopped.status == 0;
}

void PgCluster::remove() {
  std::error_code error;
  if (!directory_.empty()) fs::remove_all(directory_, error);
}

std::string PgCluster::url(const std::string& database) const {
  return "postgresql://" + std::string(kDatabaseUser) + "@127.0.0.1:" + std::to_string(port_) + "/" + database;
}

std::string PgCluster::create_database(const std::string& name, std::string& error) const {
  std::unique_ptr<PGconn, decltype(&PQfinish)> connection(PQconnectdb(url().c_str()), PQfinish);
  if (PQstatus(connection.get()) != CONNECTION_OK) {
    error = PQerrorMessage(connection.get());
    return {};
  }
  PQsetNoticeProcessor(connection.get(), [](void*, const char*) {}, nullptr);
  for (const std::string& sql : {"DROP DATABASE IF EXISTS " + quoted_identifier(name) + " WITH (FORCE)",
                                "CREATE DATABASE " + quoted_identifier(name)}) {
    std::unique_ptr<PGresult, decltype(&PQclear)> result(PQexec(connection.get(), sql.c_str()), PQclear);
    if (PQresultStatus(result.get()) != PGRES_COMMAND_OK) {
      error = PQerrorMessage(connection.get());
      return {};
    }
  }
  return url(name);
}

bool write_pg_state(const std::string& file, const std::string& base, const PgCluster& shared) {
  std::ofstream out(file);
  out << base << "\n" << shared.directory() << "\n" << shared.port() << "\n";
  return bool(out);
}

}  // namespace kivo::test
