// The PostgreSQL fixture of the test suite: "start STATE" makes the template
// cluster and starts the shared server, writing where they are to the file
// STATE; "stop STATE" stops the server and removes both. When no server can
// run here, STATE says why and the tests that need one are skipped with it.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "pg_cluster.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: kivo-test-pg start|stop STATE\n");
    return 2;
  }
  const std::string command = argv[1], state = argv[2];
  if (command == "start") {
    std::string base;
    std::string problem = kivo::test::PgCluster::make_template(base);
    kivo::test::PgCluster shared;
    if (problem.empty()) shared = kivo::test::PgCluster::copy_of(base, problem);
    if (problem.empty()) shared.start(problem);
    if (!problem.empty()) {
      std::ofstream(state) << "unavailable " << problem << "\n";
      std::fprintf(stderr, "kivo-test-pg: no PostgreSQL server for the tests: %s\n", problem.c_str());
      return 0;
    }
    kivo::test::write_pg_state(state, base, shared);
    std::printf("PostgreSQL for the tests at %s\n", shared.url().c_str());
    return 0;
  }
  if (command == "stop") {
    std::ifstream in(state);
    std::string base, directory;
    int port = 0;
    if (!(in >> base) || base == "unavailable") return 0;
    in >> directory >> port;
    kivo::test::PgCluster shared(directory, port);
    std::string error;
    if (!shared.stop(error)) std::fprintf(stderr, "kivo-test-pg: %s\n", error.c_str());
    shared.remove();
    std::error_code removed;
    std::filesystem::remove_all(base, removed);
    std::filesystem::remove(state, removed);
    return 0;
  }
  std::fprintf(stderr, "kivo-test-pg: unknown command %s\n", command.c_str());
  return 2;
}
