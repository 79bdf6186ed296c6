// The run archive's rule of when a run ends, with a stand-in for the monitor:
// the copy is taken before a begin-run event reaches the monitor, a run is
// written once, events after an end-run make no run, an existing file is
// kept, a failure is told, at most one ended run waits for the writer, and
// what a killed writer left goes at start.
#include "RunArchive.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "EventRecord.h"
#include "RunMetadata.h"
#include "TH1F.h"

namespace {

using kivo::eventio::kBeginRunEventType;
using kivo::eventio::kDataEventType;
using kivo::eventio::kEndRunEventType;
using kivo::host::RunArchive;

class RunArchiveTest : public testing::Test {
 protected:
  RunArchiveTest() {
    char pattern[] = "/tmp/kivo-archive-XXXXXX";
    directory_ = ::mkdtemp(pattern);
  }
  ~RunArchiveTest() override { std::filesystem::remove_all(directory_); }

  // The monitor stand-in: its state is the run whose events it holds.
  RunArchive::Snapshot snapshot() {
    return [this](const kivo::host::RunFacts& facts, RunArchive::RunCopy& copy, std::string& error) {
      if (fail_) {
        error = "the monitor's objects are gone";
        return false;
      }
      copies_.push_back(monitor_run_);
      facts_.push_back(facts);
      copy.title = "run " + std::to_string(facts.run);
      copy.objects = [this](const kivo::host::AddObject& add, std::string& failure) {
        pass_gate();
        TH1F h("state", "", 1, 0, 1);
        h.SetDirectory(nullptr);
        rootcompat::StreamedObject streamed;
        return rootcompat::StreamObject(h, nullptr, streamed, failure) && add(std::move(streamed), failure);
      };
      return true;
    };
  }

  // One event through the archive and the monitor, as the session does.
  void event(RunArchive& archive, int type, int run, const std::string& stream = "a.kevt") {
    archive.before_event(type, run);
    if (type == kBeginRunEventType) monitor_run_ = run;  // the monitor resets
    archive.after_event(type, run, stream);
  }

  // The writer thread stops in a run's objects while the gate is closed.
  void pass_gate() {
    std::unique_lock lock(gate_mutex_);
    gate_changed_.wait(lock, [this] { return gate_open_; });
  }
  void set_gate(bool open) {
    {
      const std::lock_guard lock(gate_mutex_);
      gate_open_ = open;
    }
    gate_changed_.notify_all();
  }

  std::vector<std::string> files() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory_))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  // The archive counts `runs` written, none failed, and the bytes of every file.
  void expect_all_written(const RunArchive& archive, long runs) const {
    const RunArchive::ArchiveCounts counts = archive.counts();
    EXPECT_EQ(counts.written, runs);
    EXPECT_EQ(counts.failed, 0);
    long long bytes = 0;
    for (const std::string& name : files()) bytes += std::filesystem::file_size(directory_ + "/" + name);
    EXPECT_EQ(counts.bytes, bytes);
  }

  std::string directory_;
  int monitor_run_ = 0;
  bool fail_ = false;
  std::vector<int> copies_;
  std::vector<kivo::host::RunFacts> facts_;
  std::mutex gate_mutex_;
  std::condition_variable gate_changed_;
  bool gate_open_ = true;
};

TEST_F(RunArchiveTest, EachRunIsCopiedBeforeTheNextResetAndWrittenOnce) {
  RunArchive archive(directory_, snapshot());
  event(archive, kBeginRunEventType, 4);
  event(archive, kDataEventType, 4);
  event(archive, kEndRunEventType, 4);
  event(archive, kEndRunEventType, 4);  // a second end-run: nothing left to write
  event(archive, kBeginRunEventType, 5);
  event(archive, kDataEventType, 5);
  event(archive, kBeginRunEventType, 6);  // run 5 never ended: its begin-run successor ends it
  event(archive, kDataEventType, 6);
  archive.finish();  // run 6 at exit
  EXPECT_EQ(copies_, (std::vector<int>{4, 5, 6})) << "each copy holds its own run";
  EXPECT_EQ(files(), (std::vector<std::string>{"run4.root", "run5.root", "run6.root"}));
  EXPECT_FALSE(archive.failed());
  EXPECT_NE(archive.describe()[0].find("last run written to " + directory_ + "/run6.root"), std::string::npos);
  expect_all_written(archive, 3);
}

TEST_F(RunArchiveTest, DataWithoutABeginRunIsARunToo) {
  RunArchive archive(directory_, snapshot());
  event(archive, kDataEventType, 0);
  archive.finish();
  archive.finish();  // nothing more to write
  EXPECT_EQ(files(), (std::vector<std::string>{"run0.root"}));
}

TEST_F(RunArchiveTest, KeepsExistingFilesAndTellsFailures) {
  std::ofstream(directory_ + "/run4.root") << "kept";
  std::ofstream(directory_ + "/run4_1.root") << "kept too";
  RunArchive archive(directory_, snapshot());
  testing::internal::CaptureStderr();
  event(archive, kBeginRunEventType, 4);
  event(archive, kEndRunEventType, 4);
  archive.finish();
  fail_ = true;
  event(archive, kBeginRunEventType, 5);
  archive.finish();
  const std::string messages = testing::internal::GetCapturedStderr();
  EXPECT_EQ(files(), (std::vector<std::string>{"run4.root", "run4_1.root", "run4_2.root"}));
  EXPECT_NE(messages.find("run4.root exists; run 4 written to " + directory_ + "/run4_2.root"), std::string::npos);
  EXPECT_NE(messages.find("archive: run 5 not written: the monitor's objects are gone"), std::string::npos);
  EXPECT_TRUE(archive.failed());
  EXPECT_EQ(archive.counts().written, 1);
  EXPECT_EQ(archive.counts().failed, 1);
  const std::vector<std::string> lines = archive.describe();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[1], "archive: run 5 not written: the monitor's objects are gone");
}

TEST_F(RunArchiveTest, EventsAfterAnEndRunMakeNoRunAndAreCounted) {
  RunArchive archive(directory_, snapshot());
  testing::internal::CaptureStderr();
  event(archive, kBeginRunEventType, 11);
  event(archive, kDataEventType, 11);
  event(archive, kDataEventType, 11, "b.kevt");
  event(archive, kEndRunEventType, 11);
  for (int i = 0; i < 3; ++i) event(archive, kDataEventType, 11);  // the monitor adds them to run 11
  EXPECT_NE(archive.describe().back().find("3 data events after an end-run and before a begin-run, in no run file"),
            std::string::npos);
  event(archive, kBeginRunEventType, 12);
  event(archive, kDataEventType, 12);
  archive.finish();
  const std::string messages = testing::internal::GetCapturedStderr();
  EXPECT_EQ(copies_, (std::vector<int>{11, 12})) << "never run 11 again";
  EXPECT_EQ(files(), (std::vector<std::string>{"run11.root", "run12.root"}));
  EXPECT_NE(messages.find("archive: 3 data events after the end-run of run 11 and before a begin-run are in no run "
                          "file"),
            std::string::npos)
      << messages;
  ASSERT_EQ(facts_.size(), 2u);
  EXPECT_EQ(facts_[0].data_events, 2);
  EXPECT_TRUE(facts_[0].begin_seen && facts_[0].end_seen);
  EXPECT_EQ(facts_[0].streams, (std::vector<std::string>{"a.kevt", "b.kevt"}));
  EXPECT_LE(facts_[0].first_event, facts_[0].last_event);
  EXPECT_EQ(facts_[1].data_events, 1);
  EXPECT_TRUE(facts_[1].begin_seen);
  EXPECT_FALSE(facts_[1].end_seen) << "run 12 ended at exit";
}

// While run 1 is being written and run 2 waits, the end of run 3 waits for
// room before its copy is taken: no more than two runs are held at once.
TEST_F(RunArchiveTest, AtMostOneEndedRunWaitsWhileAnotherIsWritten) {
  RunArchive archive(directory_, snapshot());
  testing::internal::CaptureStderr();
  set_gate(false);
  for (int run : {1, 2}) {
    event(archive, kBeginRunEventType, run);
    event(archive, kEndRunEventType, run);
  }
  event(archive, kBeginRunEventType, 3);
  std::atomic<bool> copied{false};
  std::thread ending([&] {
    event(archive, kEndRunEventType, 3);
    copied = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(copied) << "run 3 is copied only once run 1 is written";
  EXPECT_EQ(copies_.size(), 2u);
  set_gate(true);
  ending.join();
  archive.finish();
  const std::string messages = testing::internal::GetCapturedStderr();
  EXPECT_EQ(files(), (std::vector<std::string>{"run1.root", "run2.root", "run3.root"}));
  EXPECT_NE(messages.find("archive: events wait while the runs before run "), std::string::npos) << messages;
  expect_all_written(archive, 3);
}

TEST_F(RunArchiveTest, TemporariesOfAKivoThatEndedGoAtStart) {
  const pid_t ended = fork();
  if (ended == 0) _exit(0);
  waitpid(ended, nullptr, 0);
  const std::string stale = directory_ + "/run31.root.partial-" + std::to_string(ended) + "-AbC123";
  const std::string live = directory_ + "/run32.root.partial-" + std::to_string(getpid()) + "-AbC123";
  std::ofstream(stale) << "";
  std::ofstream(live) << "being written";
  testing::internal::CaptureStderr();
  RunArchive archive(directory_, snapshot());
  const std::string messages = testing::internal::GetCapturedStderr();
  EXPECT_FALSE(std::filesystem::exists(stale));
  EXPECT_TRUE(std::filesystem::exists(live)) << "its writer still runs";
  EXPECT_NE(messages.find("archive: removed 1 temporary file left in " + directory_), std::string::npos) << messages;
}

TEST(RunArchiveDirectory, NamesWhatIsWrongWithIt) {
  EXPECT_EQ(RunArchive::directory_problem("/tmp"), "");
  EXPECT_EQ(RunArchive::directory_problem("/nonexistent/runs"), "No such file or directory");
  EXPECT_EQ(RunArchive::directory_problem("/etc/passwd"), "not a directory");
  EXPECT_EQ(RunArchive::directory_problem(""), "no directory given");
}

// The mask files go into each run's file as text: whole when they are of a
// usable size, cut with a note when a detector was masked nearly whole, and
// nothing for what is not a regular file.
TEST(RunMetadataTest, MaskFilesAreCopiedWithABoundedSize) {
  char pattern[] = "/tmp/kivo-masks-XXXXXX";
  const std::string directory = ::mkdtemp(pattern);
  std::ofstream(directory + "/masklist_testbench1.txt") << "0 3 200 17\n";
  {
    std::ofstream huge(directory + "/masklist_testbench2.txt");
    for (int chip = 0; chip < 2; ++chip)
      for (int row = 0; row < 512; ++row)
        for (int column = 0; column < 1024; ++column) huge << "1 " << chip << ' ' << row << ' ' << column << '\n';
  }
  kivo::quality::Quality quality(kivo::quality::Setup{}, std::nullopt, [](const std::string&) {});
  auto text = [&](const char* name) {
    for (const auto& object : kivo::host::run_metadata(kivo::host::RunFacts{}, quality, directory))
      if (std::string(object->GetName()) == name) return std::string(object->GetTitle());
    return std::string("missing");
  };
  EXPECT_EQ(text("masklist_testbench1"), "0 3 200 17\n");
  const std::string cut = text("masklist_testbench2");
  EXPECT_LT(cut.size(), 9u << 20);
  EXPECT_NE(cut.find("\n1 "), std::string::npos);
  EXPECT_NE(cut.find("\n# cut here: "), std::string::npos) << "whole lines, then the note";
  EXPECT_NE(cut.find(" are in " + directory + "/masklist_testbench2.txt\n"), std::string::npos);
  std::filesystem::remove(directory + "/masklist_testbench1.txt");
  ASSERT_EQ(mkfifo((directory + "/masklist_testbench1.txt").c_str(), 0600), 0);
  EXPECT_EQ(text("masklist_testbench1"), "") << "a pipe is not read: it would wait for a writer";
  std::filesystem::remove_all(directory);
}

}  // namespace
