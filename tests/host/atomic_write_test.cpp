// save() writes through write_file_atomically: the target appears complete
// or not at all, and no other file beside it is touched.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <fstream>
#include <set>
#include <algorithm>
#include <vector>
#include <string>

#include "MonitorObjects.h"
#include "RunFile.h"
#include "TNamed.h"
#include "kivo_process.h"

namespace {

using kivo::host::write_file_atomically;
using kivo::test::read_file;

class AtomicWriteTest : public ::testing::Test {
 protected:
  void SetUp() override { directory = kivo::test::temporary_directory(); }
  void TearDown() override { std::filesystem::remove_all(directory); }

  std::set<std::string> names() const {
    std::set<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
      found.insert(entry.path().filename().string());
    }
    return found;
  }

  std::string directory;
};

TEST_F(AtomicWriteTest, ReplacesTheTargetAndLeavesNeighboursAlone) {
  std::string target = directory + "/monitor.json";
  std::ofstream(target) << "old";
  std::ofstream(target + ".tmp") << "the operator's own file";
  std::string error;
  ASSERT_TRUE(write_file_atomically(target, "{\"new\":1}", error)) << error;
  EXPECT_EQ(read_file(target), "{\"new\":1}");
  EXPECT_EQ(read_file(target + ".tmp"), "the operator's own file");
  EXPECT_EQ(names(), (std::set<std::string>{"monitor.json", "monitor.json.tmp"}));
}

// A rename would replace a link instead of writing to it.
TEST_F(AtomicWriteTest, WritesThroughASymbolicLink) {
  std::filesystem::create_symlink(directory + "/target.json", directory + "/link.json");
  std::string error;
  ASSERT_TRUE(write_file_atomically(directory + "/link.json", "{}", error)) << error;
  EXPECT_TRUE(std::filesystem::is_symlink(directory + "/link.json"));
  EXPECT_EQ(read_file(directory + "/target.json"), "{}");
  EXPECT_EQ(names(), (std::set<std::string>{"link.json", "target.json"}));
}

TEST_F(AtomicWriteTest, FailuresNameTheFileAndTheReasonAndLeaveNothing) {
  std::string error;
  std::string missing = directory + "/no/such/dir/x.json";
  EXPECT_FALSE(write_file_atomically(missing, "{}", error));
  EXPECT_EQ(error, "cannot write " + missing + ": No such file or directory");

  std::string subdirectory = directory + "/taken";
  std::filesystem::create_directory(subdirectory);
  EXPECT_FALSE(write_file_atomically(subdirectory, "{}", error));
  EXPECT_EQ(error, "cannot write " + subdirectory + ": Is a directory");
  EXPECT_TRUE(std::filesystem::is_empty(subdirectory));

  EXPECT_FALSE(write_file_atomically("", "{}", error));
  EXPECT_EQ(error, "no file name given");
  EXPECT_EQ(names(), (std::set<std::string>{"taken"}));
}

// A named pipe without a reader would hold the event thread and the prompt
// until one came: it is refused, as are devices, and left as it is.
TEST_F(AtomicWriteTest, NamedPipesAndDevicesAreRefusedWithoutWaiting) {
  const std::string pipe = directory + "/p.json";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  std::string error;
  auto saving = std::async(std::launch::async, [&] { return write_file_atomically(pipe, "{}", error); });
  if (saving.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    const int reader = open(pipe.c_str(), O_RDONLY | O_NONBLOCK);  // lets a blocked writer go on
    saving.wait();
    close(reader);
    FAIL() << "writing waited for a reader of the named pipe";
  }
  EXPECT_FALSE(saving.get());
  EXPECT_EQ(error, "cannot write " + pipe + ": is a named pipe; only a regular file is written");
  EXPECT_EQ(std::filesystem::status(pipe).type(), std::filesystem::file_type::fifo);
  EXPECT_EQ(names(), (std::set<std::string>{"p.json"}));

  std::filesystem::create_symlink("/dev/null", directory + "/null.json");
  EXPECT_FALSE(write_file_atomically(directory + "/null.json", "{}", error));
  EXPECT_EQ(error, "cannot write /dev/null: is a character device; only a regular file is written");
}

// Two writers that chose the same free name: the one that puts its file in
// place second finds the first one's there, keeps it, and asks for another.
TEST_F(AtomicWriteTest, ANewFileNeverReplacesOneThatAppearedMeanwhile) {
  std::vector<std::string> free_names{directory + "/run7.root", directory + "/run7_1.root"};
  std::size_t asked = 0;
  const auto free_path = [&] {
    if (asked == 0) std::ofstream(free_names[0]) << "the other writer's run";  // after the choice, before the commit
    return free_names[std::min(asked++, free_names.size() - 1)];
  };
  const kivo::host::ObjectSource one_note = [](const kivo::host::AddObject& add, std::string& error) {
    rootcompat::StreamedObject note;
    return rootcompat::StreamObject(TNamed("note", "a run"), nullptr, note, error) && add(std::move(note), error);
  };
  std::string error;
  long long bytes = 0;
  EXPECT_EQ(kivo::host::write_new_run_file(free_path, "a title", one_note, bytes, error), free_names[1]) << error;
  EXPECT_EQ(asked, 2u);
  EXPECT_EQ(read_file(free_names[0]), "the other writer's run");
  EXPECT_EQ(read_file(free_names[1]).substr(0, 4), "root");
  EXPECT_EQ(static_cast<long long>(read_file(free_names[1]).size()), bytes);
  EXPECT_EQ(names(), (std::set<std::string>{"run7.root", "run7_1.root"}));

  EXPECT_EQ(kivo::host::write_new_run_file([&] { return directory + "/no/such/dir/run8.root"; }, "", one_note, bytes,
                                           error),
            "");
  EXPECT_EQ(error, "cannot write " + directory + "/no/such/dir/run8.root: No such file or directory");
}

}  // namespace
