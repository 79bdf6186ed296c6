// kivo as a Unix tool among others: a reader that leaves early, Ctrl-C on
// a pipe, a display that cannot start, a file that is not a stream, and the
// words of its messages.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "kivo_process.h"

namespace {

using kivo::test::Finished;
using kivo::test::LiveProcess;
using kivo::test::run_program;

namespace fs = std::filesystem;

long occurrences(const std::string& text, const std::string& word) {
  long count = 0;
  for (std::size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) ++count;
  return count;
}

class UnixToolTest : public ::testing::Test {
 protected:
  void SetUp() override { directory = kivo::test::temporary_directory(); }
  void TearDown() override { fs::remove_all(directory); }

  std::string path(const std::string& name) const { return directory + "/" + name; }

  // One stream file holding `runs` short runs, each ended by an end-run event.
  std::string runs_stream(int runs) {
    const std::string stream = path("runs.kevt");
    std::ofstream out(stream, std::ios::binary);
    for (int run = 1; run <= runs; ++run) {
      const std::string part = path("part.kevt");
      const Finished made = run_program({KIVO_SIM, "-n", "20", "--run", std::to_string(run), "--seed",
                                         std::to_string(run), "--end-run", "-o", part});
      EXPECT_EQ(made.status, 0) << made.err;
      out << kivo::test::read_file(part);
    }
    return stream;
  }

  std::string directory;
};

// The monitor prints a line at each run's first event; the reader takes
// the first and goes, as `| head -1` does, long before the last run ends.
TEST_F(UnixToolTest, AReaderThatLeavesCutsThePrintingNotTheProcessing) {
#if defined(__SANITIZE_ADDRESS__)
  const int runs = 6;
#else
  const int runs = 25;
#endif
  const std::string stream = runs_stream(runs);
  const std::string archive = path("archive");
  fs::create_directory(archive);
  LiveProcess kivo({KIVO_BIN, "-b", "-q", "--archive", archive, stream});
  ASSERT_TRUE(kivo.wait_for_out("\n"));
  kivo.close_output();
  // Each run's file takes a good part of a second to write: 25 of them on a
  // loaded machine take longer than most of what these tests wait for.
  EXPECT_EQ(kivo.wait(8 * kivo::test::kGenerousMs), 1) << kivo.err();
  EXPECT_NE(kivo.err().find("kivo: standard output closed or failed before the end"), std::string::npos)
      << kivo.err();
  const Finished listed = run_program({KIVO_BIN, "--list-archive", archive});
  ASSERT_EQ(listed.status, 0) << listed.err;
  for (int run = 1; run <= runs; ++run)
    EXPECT_NE(listed.out.find(" run" + std::to_string(run) + ".root "), std::string::npos) << listed.out;
  EXPECT_EQ(occurrences(listed.out, "           20  "), runs) << "every run whole, its 20 data events" << listed.out;
  EXPECT_EQ(listed.out.find("cannot be read"), std::string::npos) << listed.out;
  // Nothing beside the run files but the run registry: no temporary left.
  std::vector<std::string> others;
  for (const fs::directory_entry& entry : fs::directory_iterator(archive))
    if (entry.path().extension() != ".root") others.push_back(entry.path().filename());
  EXPECT_EQ(others, std::vector<std::string>{"registry.sqlite"});
}

}  // namespace

namespace {

// The same at the prompt: what the commands print is lost, the commands run.
TEST_F(UnixToolTest, APromptWhoseOutputIsClosedRunsItsCommandsAndSaysSo) {
  LiveProcess kivo({KIVO_BIN, "-b", "--plugin", STUB_PLUGIN});
  ASSERT_TRUE(kivo.wait_for_out("pinit\n"));
  kivo.close_output();
  const std::string saved = path("saved.json");
  kivo.write("process_histos()\nprint_status()\nsave(\"" + saved + "\")\n.q\n");
  EXPECT_EQ(kivo.wait(), 1) << kivo.err();
  EXPECT_NE(kivo.err().find("kivo: standard output closed or failed before the end"), std::string::npos)
      << kivo.err();
  EXPECT_TRUE(fs::exists(saved)) << "the command after the lost output ran: " << kivo.err();
}

TEST_F(UnixToolTest, AFileOfWhichNothingIsARecordFailsABatchRunDamageDoesNot) {
  const std::string notes = path("notes.txt");
  std::ofstream(notes) << "beam tuned at 14:02\nshift: A. N. Other\n";
  const Finished text = run_program({KIVO_BIN, "-b", "-q", notes});
  EXPECT_EQ(text.status, 1) << text.err;
  EXPECT_NE(text.err.find("kivo: " + notes + ": not a KIVO stream (no stream file header)"), std::string::npos)
      << text.err;
  EXPECT_NE(text.err.find("kivo: " + notes + ": offset 0: no stream file header"), std::string::npos)
      << "the reader's own line, with the program's name first: " << text.err;
  const Finished piped = run_program({KIVO_BIN, "-b", "-q", "-"}, "not events\n");
  EXPECT_EQ(piped.status, 1) << piped.err;
  EXPECT_NE(piped.err.find("kivo: standard input: not a KIVO stream"), std::string::npos) << piped.err;

  // A stream cut in its last record is read up to the cut, as before.
  const std::string whole = kivo::test::read_file(runs_stream(2));
  const std::string cut = path("cut.kevt");
  std::ofstream(cut, std::ios::binary) << whole.substr(0, whole.size() - 100);
  const Finished damaged = run_program({KIVO_BIN, "-b", "-q", cut});
  EXPECT_EQ(damaged.status, 0) << damaged.err;
  EXPECT_NE(damaged.err.find("truncated record at end of data"), std::string::npos) << damaged.err;
  EXPECT_EQ(damaged.err.find("not a KIVO stream"), std::string::npos) << damaged.err;
  // An empty file is a stream with no events yet.
  const std::string empty = path("empty.kevt");
  std::ofstream{empty};
  EXPECT_EQ(run_program({KIVO_BIN, "-b", "-q", empty}).status, 0);
}

}  // namespace

namespace {

// A listening socket on a loopback port of its own, held for the test.
class TakenPort {
 public:
  TakenPort() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(fd_, reinterpret_cast<sockaddr*>(&address), size);
    ::listen(fd_, 1);
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
  }
  ~TakenPort() { ::close(fd_); }
  std::string port() const { return std::to_string(port_); }

 private:
  int fd_ = -1;
  int port_ = 0;
};

TEST_F(UnixToolTest, ADisplayThatCannotStartEndsKivoBeforeAnyEventUnlessOptional) {
  const std::string stream = runs_stream(1);
  const std::string archive = path("archive");
  fs::create_directory(archive);
  const TakenPort taken;
  const Finished refused = run_program({KIVO_BIN, "-q", "--port", taken.port(), "--archive", archive, stream});
  EXPECT_EQ(refused.status, 2) << refused.err;
  EXPECT_NE(refused.err.find("kivo: the web display cannot start: "), std::string::npos) << refused.err;
  EXPECT_NE(refused.err.find("Address already in use"), std::string::npos) << refused.err;
  EXPECT_EQ(refused.out, "") << "no event processed";
  for (const fs::directory_entry& entry : fs::directory_iterator(archive))
    EXPECT_NE(entry.path().extension(), ".root") << "no run archived: " << entry.path();

  const Finished optional =
      run_program({KIVO_BIN, "-q", "--display-optional", "--port", taken.port(), "--archive", archive, stream});
  EXPECT_EQ(optional.status, 0) << optional.err;
  EXPECT_NE(optional.err.find("web display not started, running on without it"), std::string::npos) << optional.err;
  EXPECT_TRUE(fs::exists(archive + "/run1.root"));
}

}  // namespace

namespace {

// Commands from a pipe have no line being typed for Ctrl-C to drop: it ends
// kivo with 130, as it ends a batch run, the run in progress archived.
TEST_F(UnixToolTest, CtrlCEndsAPromptThatReadsAPipe) {
  const std::string stream = runs_stream(1);
  const std::string archive = path("archive");
  fs::create_directory(archive);
  {
    LiveProcess idle({KIVO_BIN, "-b", "--archive", archive, stream});
    ASSERT_TRUE(idle.wait_for_err("all sources read"));
    idle.interrupt();
    ASSERT_TRUE(idle.wait_for_err("kivo: interrupted: the commands come from no terminal")) << idle.err();
    EXPECT_EQ(idle.wait(), 130) << idle.err();
    EXPECT_TRUE(fs::exists(archive + "/run1.root"));
  }
  const std::string growing = path("growing.kevt");
  std::ofstream{growing};
  LiveProcess busy({KIVO_BIN, "-b"});
  busy.write("follow(\"" + growing + "\")\nsources()\nrun()\nprint_status();\n");
  ASSERT_TRUE(busy.wait_for_err("(following)")) << busy.err();
  // A Ctrl-C just before run() starts is not for it: sent until one stops it.
  bool stopped = false;
  for (int attempt = 0; attempt < 100 && !stopped; ++attempt) {
    busy.interrupt();
    stopped = busy.wait_for_err("interrupted", 200);
  }
  ASSERT_TRUE(stopped) << busy.err();
  EXPECT_EQ(busy.wait(), 130) << busy.err();
  EXPECT_EQ(busy.out().find("Number of events"), std::string::npos) << "the line after run() never ran";
}

}  // namespace

namespace {

// Each KIVO program tells its exit statuses in its help, and a usage error
// is one line naming the program first and its help last.
TEST(OneVoice, EveryProgramSaysItsExitStatusesAndWordsUsageErrorsAlike) {
  const std::string scratch = kivo::test::temporary_directory();
  const std::string file = scratch + "/a";
  std::ofstream(file) << "event\n";
  const std::vector<std::vector<std::string>> wrong = {
      {KIVO_BIN, "--port", "-1"},    {KIVO_BIN, "--list-archive", scratch, "x.kevt"},
      {KIVO_SIM, "--seed", "-1"},    {KIVO_PACK, file, file},
      {KIVO_DUMP, file, file},       {KIVO_BENCH, "--no-such-option"},
      {KIVO_DICTGEN, "one"}};
  for (const std::vector<std::string>& words : wrong) {
    const std::string name = fs::path(words[0]).filename().string();
    const Finished help = run_program({words[0], "--help"});
    EXPECT_EQ(help.status, 0) << name;
    EXPECT_NE(help.out.find("Exit status"), std::string::npos) << name << ": " << help.out;
    const Finished refused = run_program(words);
    EXPECT_EQ(refused.status, 2) << name << ": " << refused.err;
    EXPECT_TRUE(refused.err.starts_with(name + ": ")) << refused.err;
    EXPECT_TRUE(refused.err.ends_with(" (see " + name + " --help)\n")) << refused.err;
    EXPECT_EQ(std::count(refused.err.begin(), refused.err.end(), '\n'), 1) << refused.err;
  }
  EXPECT_EQ(run_program({KIVO_SIM, "--seed", "-1"}).err,
            "kivo-sim: --seed: '-1' must not be negative (see kivo-sim --help)\n");
  fs::remove_all(scratch);
}

}  // namespace
