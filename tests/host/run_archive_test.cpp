// The run archive's rule of when a run ends, with a stand-in for the monitor:
// the copy is taken before a begin-run event reaches the monitor, a run is
// written once, an existing file is kept, and a failure is told.
#include "RunArchive.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "EventRecord.h"
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
      copy.objects = [](const kivo::host::AddObject& add, std::string& failure) {
        TH1F h("state", "", 1, 0, 1);
        h.SetDirectory(nullptr);
        rootcompat::StreamedObject streamed;
        return rootcompat::StreamObject(h, nullptr, streamed, failure) && add(std::move(streamed), failure);
      };
      return true;
    };
  }

  // One event through the archive and the monitor, as the session does.
  void event(RunArchive& archive, int type, int run) {
    archive.before_event(type, run);
    if (type == kBeginRunEventType) monitor_run_ = run;  // the monitor resets
    archive.after_event(type, run);
  }

  std::vector<std::string> files() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory_))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string directory_;
  int monitor_run_ = 0;
  bool fail_ = false;
  std::vector<int> copies_;
  std::vector<kivo::host::RunFacts> facts_;
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
  const std::vector<std::string> lines = archive.describe();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[1], "archive: run 5 not written: the monitor's objects are gone");
}

TEST(RunArchiveDirectory, NamesWhatIsWrongWithIt) {
  EXPECT_EQ(RunArchive::directory_problem("/tmp"), "");
  EXPECT_EQ(RunArchive::directory_problem("/nonexistent/runs"), "No such file or directory");
  EXPECT_EQ(RunArchive::directory_problem("/etc/passwd"), "not a directory");
  EXPECT_EQ(RunArchive::directory_problem(""), "no directory given");
}

}  // namespace
