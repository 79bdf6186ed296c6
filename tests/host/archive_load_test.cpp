// Twenty short runs back to back, the writer always behind: the archive
// holds at most one ended run beside the one it writes, so that kivo's
// resident memory stays far below what twenty copies of the hit maps take.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "kivo_process.h"

namespace {

namespace fs = std::filesystem;

constexpr int kRuns = 20;
constexpr long kResidentLimitKiB = 600L * 1024;

// Runs `argv` with its output thrown away; its exit status and peak resident
// memory in KiB.
std::pair<int, long> run_measured(const std::vector<std::string>& argv) {
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), usage.ru_maxrss};
}

TEST(ArchiveLoad, TwentyShortRunsBackToBackStayInBoundedMemory) {
  const std::string directory = kivo::test::temporary_directory();
  const std::string archive = directory + "/runs";
  fs::create_directory(archive);
  const std::string all = directory + "/all.kevt";
  for (int run = 1; run <= kRuns; ++run) {
    const std::string one = directory + "/one.kevt";
    ASSERT_EQ(kivo::test::run_program({KIVO_SIM, "--run", std::to_string(run), "--seed", std::to_string(run), "-n",
                                       "20", "--end-run", "-o", one})
                  .status,
              0);
    std::ofstream(all, std::ios::app | std::ios::binary) << kivo::test::read_file(one);
  }
  const auto [status, resident] = run_measured({KIVO_BIN, "-b", "-q", "--archive", archive, all});
  EXPECT_EQ(status, 0);
  int files = 0;
  for (const auto& entry : fs::directory_iterator(archive)) files += entry.path().extension() == ".root" ? 1 : 0;
  EXPECT_EQ(files, kRuns);
  EXPECT_LT(resident, kResidentLimitKiB) << "peak resident memory, KiB";
  fs::remove_all(directory);
}

}  // namespace
