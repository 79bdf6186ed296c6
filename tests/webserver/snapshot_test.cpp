#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Snapshot.h"

namespace fs = std::filesystem;

namespace {

using kivo::web::render_snapshot;
using kivo::web::snapshot_problem;

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream contents;
  contents << in.rdbuf();
  return contents.str();
}

// One pad with a log-y histogram and a red label "#mu = 4.92".
const std::string kCanvas = read_file(KIVO_TEST_DATA_DIR "/minimal_canvas.json");

class SnapshotTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "kivo-snapshot-XXXXXX").string();
    dir = mkdtemp(pattern.data());
  }
  void TearDown() override { fs::remove_all(dir); }

  fs::path dir;
  std::string error;
};

TEST_F(SnapshotTest, WritesSvgAndPng) {
  ASSERT_TRUE(render_snapshot(kCanvas, (dir / "canvas.svg").string(), error)) << error;
  const std::string svg = read_file(dir / "canvas.svg");
  EXPECT_TRUE(svg.starts_with("<svg")) << svg.substr(0, 80);
  EXPECT_NE(svg.find("width=\"1600\""), std::string::npos);
  EXPECT_NE(svg.find("4.92"), std::string::npos);

  ASSERT_TRUE(render_snapshot(kCanvas, (dir / "canvas.PNG").string(), error)) << error;
  EXPECT_TRUE(read_file(dir / "canvas.PNG").starts_with("\x89PNG\r\n"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2)
      << "no temporary files left behind";
}

TEST_F(SnapshotTest, RefusesOtherExtensions) {
  for (const char* name : {"canvas.jpg", "canvas", "canvas.svg.txt"}) {
    EXPECT_FALSE(render_snapshot(kCanvas, (dir / name).string(), error)) << name;
    EXPECT_NE(error.find(".png or .svg"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(dir / name));
  }
}

TEST_F(SnapshotTest, ReportsBadCanvasAndKeepsOldFile) {
  const fs::path out = dir / "canvas.svg";
  std::ofstream(out) << "previous";
  EXPECT_FALSE(render_snapshot("{not json", out.string(), error));
  EXPECT_TRUE(error.starts_with(out.string() + ": not valid ROOT JSON")) << error;
  EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  EXPECT_EQ(read_file(out), "previous");
}

TEST_F(SnapshotTest, ReportsUnwritableDirectory) {
  const fs::path out = dir / "missing" / "canvas.png";
  EXPECT_FALSE(render_snapshot(kCanvas, out.string(), error));
  EXPECT_EQ(error, out.string() + ": cannot write: " + out.parent_path().string() +
                       " is missing or not a directory");
  EXPECT_EQ(snapshot_problem(out.string()), error) << "told before any rendering";
}

// A named pipe would hold the snapshot until something read it.
TEST_F(SnapshotTest, RefusesANamedPipe) {
  const fs::path out = dir / "canvas.png";
  ASSERT_EQ(mkfifo(out.c_str(), 0600), 0);
  EXPECT_EQ(snapshot_problem(out.string()),
            out.string() + ": cannot write: is a named pipe; only a regular file is written");
  EXPECT_FALSE(render_snapshot(kCanvas, out.string(), error));
  EXPECT_EQ(error, snapshot_problem(out.string()));
  EXPECT_EQ(fs::status(out).type(), fs::file_type::fifo);
}

// The processes this test program started that are still running.
std::vector<pid_t> children() {
  std::vector<pid_t> pids;
  for (const auto& task : fs::directory_iterator("/proc/self/task")) {
    std::ifstream list(task.path() / "children");
    for (pid_t pid = 0; list >> pid;) pids.push_back(pid);
  }
  return pids;
}

// One renderer draws snapshot after snapshot, a refused canvas included;
// killed, it is replaced and the snapshot asked meanwhile is still drawn.
TEST_F(SnapshotTest, RendererStaysForTheNextSnapshotAndIsReplacedWhenItDies) {
  ASSERT_TRUE(render_snapshot(kCanvas, (dir / "first.svg").string(), error)) << error;
  const std::vector<pid_t> renderers = children();
  ASSERT_EQ(renderers.size(), 1u);
  EXPECT_FALSE(render_snapshot("{not json", (dir / "bad.svg").string(), error));
  ASSERT_TRUE(render_snapshot(kCanvas, (dir / "second.png").string(), error)) << error;
  EXPECT_EQ(children(), renderers);
  EXPECT_TRUE(read_file(dir / "second.png").starts_with("\x89PNG\r\n"));

  kill(renderers[0], SIGKILL);
  ASSERT_TRUE(render_snapshot(kCanvas, (dir / "third.svg").string(), error)) << error;
  EXPECT_NE(read_file(dir / "third.svg").find("4.92"), std::string::npos);
  ASSERT_TRUE(render_snapshot(kCanvas, (dir / "fourth.svg").string(), error)) << error;
  const std::vector<pid_t> replaced = children();
  ASSERT_EQ(replaced.size(), 1u);
  EXPECT_NE(replaced[0], renderers[0]);
}

}  // namespace
