// kivo --list-archive: each run with the facts its file keeps and the
// verdicts that were Medium or Bad, a run cut short marked, a file that cannot be read named as such; and
// every program's --version, the version the files record.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include "CommandLine.h"
#include "kivo_process.h"

namespace {

namespace fs = std::filesystem;
using kivo::test::run_program;

TEST(ArchiveListing, ListsEachRunWithItsFactsAndVerdicts) {
  const std::string directory = kivo::test::temporary_directory();
  const std::string archive = directory + "/runs";
  fs::create_directory(archive);
  const std::string stream = directory + "/runs.kevt";
  std::string events = "run 4\nevent\nhit 1 4 200 17\nevent\n";
  for (int i = 0; i < 18; ++i) events += "event nopacket\n";
  kivo::test::pack(events + "end 4\nrun 5\nevent\n", stream);
  // Judged from the first events, 18 of 20 without their packet are Bad
  // however few the events.
  const std::string checks = directory + "/checks.toml";
  std::ofstream(checks) << "[verdicts]\nconfirm_judgements = 1\n[missing_packet]\nmin_events = 1\n";
  ASSERT_EQ(run_program({KIVO_BIN, "-b", "-q", "--checks", checks, "--archive", archive, stream}).status, 0);
  std::ofstream(archive + "/run9.root") << "not a run";

  const auto listed = run_program({KIVO_BIN, "--list-archive", archive});
  EXPECT_EQ(listed.status, 0) << listed.err;
  const std::string date = R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)";
  EXPECT_TRUE(std::regex_search(listed.out, std::regex("^   run  file       first event \\(UTC\\) ")));
  EXPECT_TRUE(std::regex_search(listed.out, std::regex("\n     4  run4\\.root  " + date + "  " + date +
                                                       " +20  Bad +" +
                                                       kivo::eventio::kivo_version() + "\n")))
      << listed.out;
  EXPECT_TRUE(std::regex_search(listed.out, std::regex("\n     5  run5\\.root  " + date + "  " + date + " +1  ")));
  // Run 5 ended with kivo, without its end-of-run event.
  EXPECT_TRUE(std::regex_search(listed.out, std::regex("\n     5  run5\\.root  [^\n]*  cut short: no end-of-run event\n")))
      << listed.out;
  EXPECT_TRUE(std::regex_search(listed.out, std::regex("\n        quality_missing_packet: Bad: ")))
      << "most events of run 4 lacked their packet: " << listed.out;
  EXPECT_EQ(listed.out.find(": Null: "), std::string::npos) << "what could not be judged is not listed";
  EXPECT_NE(listed.out.find("     9  run9.root  cannot be read: not a ROOT file\n"), std::string::npos) << listed.out;

  const auto missing = run_program({KIVO_BIN, "--list-archive", directory + "/none"});
  EXPECT_EQ(missing.status, 2) << "a bad option, as for --archive";
  EXPECT_NE(missing.err.find("kivo: --list-archive: " + directory + "/none: No such file or directory (see kivo --help)"),
            std::string::npos)
      << missing.err;
  const auto with_stream = run_program({KIVO_BIN, "--list-archive", archive, "day1.kevt"});
  EXPECT_EQ(with_stream.status, 2);
  EXPECT_EQ(with_stream.err, "kivo: --list-archive: takes no STREAM ('day1.kevt' given) (see kivo --help)\n");
  EXPECT_EQ(with_stream.out, "");
  fs::remove_all(directory);
}

TEST(ProgramVersions, EveryProgramAnswersVersionAlike) {
  for (const char* program : {KIVO_BIN, KIVO_SIM, KIVO_PACK, KIVO_DUMP, KIVO_BENCH, KIVO_DICTGEN}) {
    const auto answer = run_program({program, "--version"});
    EXPECT_EQ(answer.status, 0) << program;
    EXPECT_EQ(answer.out, fs::path(program).filename().string() + " (KIVO) " + kivo::eventio::kivo_version() + "\n");
    EXPECT_EQ(answer.err, "");
  }
}

}  // namespace
