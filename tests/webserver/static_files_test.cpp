#include <gtest/gtest.h>

#include <filesystem>

#include "static_files.h"
#include "test_tree.h"

namespace {

using kivo::web::content_type_for;
using kivo::web::make_static_tree;
using kivo::web::resolve_static_file;

TEST(StaticFiles, ContentTypesTheBrowserNeeds) {
  EXPECT_EQ(content_type_for("a/index.html"), "text/html; charset=utf-8");
  EXPECT_EQ(content_type_for("main.mjs"), "text/javascript; charset=utf-8");
  EXPECT_EQ(content_type_for("symbol.ttf"), "font/ttf");
  EXPECT_EQ(content_type_for("canvas.json"), "application/json");
  EXPECT_EQ(content_type_for("README"), "application/octet-stream");
}

TEST(StaticFiles, LongestPrefixPicksTheTree) {
  TestWebTree tree;
  const std::vector trees{*make_static_tree("/", (tree.root() / "page").string()),
                          *make_static_tree("/jsroot/modules/",
                                            (tree.root() / "node_modules/jsroot/modules").string())};
  EXPECT_EQ(resolve_static_file(trees, "/jsroot/modules/main.mjs"),
            std::filesystem::canonical(tree.root() / "node_modules/jsroot/modules/main.mjs").string());
  EXPECT_EQ(resolve_static_file(trees, "/display.mjs"), std::filesystem::canonical(tree.root() / "page/display.mjs").string());
  EXPECT_FALSE(resolve_static_file(trees, "/jsroot/main.mjs"));
}

TEST(StaticFiles, MissingTreeDirectory) {
  EXPECT_FALSE(make_static_tree("/", "/nonexistent/kivo"));
  TestWebTree tree;
  EXPECT_FALSE(make_static_tree("/", (tree.root() / "secret.txt").string()));
}

}  // namespace
