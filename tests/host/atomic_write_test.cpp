// save() writes through write_file_atomically: the target appears complete
// or not at all, and no other file beside it is touched.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "MonitorObjects.h"
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

// A rename would replace a link (or a device such as /dev/null) instead of
// writing to it.
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

}  // namespace
