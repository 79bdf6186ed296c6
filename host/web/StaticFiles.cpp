#include "StaticFiles.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdlib>
#include <utility>

namespace kivo::web {
namespace {

std::optional<std::string> canonical_path(const std::string& path) {
  char resolved[PATH_MAX];
  if (realpath(path.c_str(), resolved) == nullptr) return std::nullopt;
  return std::string(resolved);
}

bool is_safe_segment(std::string_view segment) {
  if (segment.empty() || segment == "." || segment == "..") return false;
  return std::none_of(segment.begin(), segment.end(), [](char c) {
    return c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
  });
}

bool is_safe_relative_path(std::string_view path) {
  while (true) {
    const auto slash = path.find('/');
    if (!is_safe_segment(path.substr(0, slash))) return false;
    if (slash == std::string_view::npos) return true;
    path.remove_prefix(slash + 1);
  }
}

bool is_inside(const std::string& path, const std::string& directory) {
  return path.size() > directory.size() && path.starts_with(directory) &&
         path[directory.size()] == '/';
}

bool is_regular_file(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

const StaticTree* tree_for(const std::vector<StaticTree>& trees, std::string_view url_path) {
  const StaticTree* best = nullptr;
  for (const auto& tree : trees) {
    if (url_path.starts_with(tree.url_prefix) &&
        (best == nullptr || tree.url_prefix.size() > best->url_prefix.size())) {
      best = &tree;
    }
  }
  return best;
}

}  // namespace

std::optional<StaticTree> make_static_tree(std::string url_prefix, const std::string& directory) {
  auto canonical = canonical_path(directory);
  if (!canonical) return std::nullopt;
  struct stat info {};
  if (stat(canonical->c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return std::nullopt;
  return StaticTree{std::move(url_prefix), std::move(*canonical)};
}

std::optional<std::string> resolve_static_file(const std::vector<StaticTree>& trees,
                                               std::string_view url_path) {
  const StaticTree* tree = tree_for(trees, url_path);
  if (tree == nullptr) return std::nullopt;
  const std::string_view relative = url_path.substr(tree->url_prefix.size());
  if (!is_safe_relative_path(relative)) return std::nullopt;
  auto canonical = canonical_path(tree->directory + "/" + std::string(relative));
  if (!canonical || !is_inside(*canonical, tree->directory) || !is_regular_file(*canonical)) {
    return std::nullopt;
  }
  return canonical;
}

std::string_view content_type_for(std::string_view file_name) {
  static constexpr std::array<std::pair<std::string_view, std::string_view>, 14> types{{
      {".html", "text/html; charset=utf-8"},
      {".mjs", "text/javascript; charset=utf-8"},
      {".js", "text/javascript; charset=utf-8"},
      {".css", "text/css; charset=utf-8"},
      {".json", "application/json"},
      {".svg", "image/svg+xml"},
      {".png", "image/png"},
      {".gif", "image/gif"},
      {".ico", "image/x-icon"},
      {".ttf", "font/ttf"},
      {".otf", "font/otf"},
      {".woff", "font/woff"},
      {".woff2", "font/woff2"},
      {".txt", "text/plain; charset=utf-8"},
  }};
  for (const auto& [extension, type] : types) {
    if (file_name.ends_with(extension)) return type;
  }
  return "application/octet-stream";
}

}  // namespace kivo::web
