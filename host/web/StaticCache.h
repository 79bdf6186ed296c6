// The page's files and JSROOT as served: each read once per version of the
// file (its size and modification time), with an ETag naming that version
// and, for text, a gzip copy made once, so that the page loads compressed and
// a reload costs one small revalidation per file. Thread-safe.
#ifndef KIVO_HOST_WEB_STATIC_CACHE_H
#define KIVO_HOST_WEB_STATIC_CACHE_H

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace kivo::web {

struct CachedFile {
  std::string etag;          // "\"SIZE-MTIME\"", quotes included
  std::string content_type;
  std::string body;
  std::string gzipped;       // empty when compression does not pay (images, fonts, small files)
};

class StaticCache {
 public:
  // Files are kept until they hold this many bytes in all; later ones are
  // read at each request.
  static constexpr std::size_t kMaxKeptBytes = 64u << 20;

  // The file at `path` (a regular file found by resolve_static_file), read
  // again when it changed since it was kept; null when it cannot be read.
  std::shared_ptr<const CachedFile> get(const std::string& path);

 private:
  std::mutex mutex_;
  std::unordered_map<std::string, std::shared_ptr<const CachedFile>> files_;
  std::size_t kept_bytes_ = 0;
};

}  // namespace kivo::web

#endif
