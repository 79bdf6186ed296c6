#ifndef KIVO_TESTS_WEBSERVER_WEB_TREE_H
#define KIVO_TESTS_WEBSERVER_WEB_TREE_H

#include <filesystem>
#include <string>

// A throw-away web folder laid out like web/: page/ and node_modules/jsroot/modules/,
// with files outside page/ that must never be served. Removed on destruction.
class TestWebTree {
 public:
  TestWebTree();
  ~TestWebTree();
  TestWebTree(const TestWebTree&) = delete;
  TestWebTree& operator=(const TestWebTree&) = delete;

  const std::filesystem::path& root() const { return root_; }
  void write(const std::filesystem::path& relative, const std::string& contents) const;

  static constexpr const char* kIndex = "<!doctype html><title>KIVO online monitoring</title>";
  static constexpr const char* kSecret = "secret-outside-page";

 private:
  std::filesystem::path root_;
};

#endif
