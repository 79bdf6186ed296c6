#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

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

}  // namespace
