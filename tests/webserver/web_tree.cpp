#include "web_tree.h"

#include <cstdlib>
#include <fstream>

namespace fs = std::filesystem;

TestWebTree::TestWebTree() {
  std::string pattern = (fs::temp_directory_path() / "kivo-webtree-XXXXXX").string();
  root_ = mkdtemp(pattern.data());
  write("page/index.html", kIndex);
  write("page/display.mjs", "export const x = 1;\n");
  write("node_modules/jsroot/modules/main.mjs", "export const y = 2;\n");
  write("node_modules/jsroot/package.json", "{}");
  write("CMakeLists.txt", kSecret);
  write("secret.txt", kSecret);
  fs::create_directory_symlink(root_, root_ / "page" / "up");
  fs::create_symlink(root_ / "secret.txt", root_ / "page" / "link.txt");
}

TestWebTree::~TestWebTree() {
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

void TestWebTree::write(const fs::path& relative, const std::string& contents) const {
  fs::create_directories((root_ / relative).parent_path());
  std::ofstream(root_ / relative, std::ios::binary) << contents;
}
