#ifndef KIVO_HOST_WEB_STATIC_FILES_H
#define KIVO_HOST_WEB_STATIC_FILES_H

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kivo::web {

// A directory tree served under a URL prefix, e.g. "/jsroot/modules/" -> ".../jsroot/modules".
struct StaticTree {
  std::string url_prefix;  // starts and ends with '/'
  std::string directory;   // canonical absolute path, no trailing '/'
};

// Builds a tree entry; nullopt when the directory does not exist.
std::optional<StaticTree> make_static_tree(std::string url_prefix, const std::string& directory);

// Maps a decoded URL path to a regular file inside one of the trees. Refuses empty,
// "." and ".." segments, backslashes and control characters, and any file whose
// canonical path (symlinks resolved) lies outside its tree. Longest prefix wins.
std::optional<std::string> resolve_static_file(const std::vector<StaticTree>& trees,
                                               std::string_view url_path);

// Content type from the file name's extension; octet-stream when unknown.
std::string_view content_type_for(std::string_view file_name);

}  // namespace kivo::web

#endif
