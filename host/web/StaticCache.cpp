#include "StaticCache.h"

#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string_view>

#include "Gzip.h"
#include "StaticFiles.h"

namespace kivo::web {

namespace {

// Below this, the gzip header and a second lookup cost more than they save.
constexpr std::size_t kCompressFrom = 1024;

// "SIZE-MTIME" in hex, the nanoseconds of the modification time included:
// a file rewritten within the same second still gets a new tag.
std::string version_tag(const struct stat& info) {
  char tag[64];
  std::snprintf(tag, sizeof tag, "\"%llx-%llx%09lx\"", static_cast<unsigned long long>(info.st_size),
                static_cast<unsigned long long>(info.st_mtim.tv_sec), static_cast<long>(info.st_mtim.tv_nsec));
  return tag;
}

bool is_text(std::string_view content_type) {
  return content_type.starts_with("text/") || content_type.starts_with("application/json") ||
         content_type.starts_with("image/svg+xml");
}

std::shared_ptr<CachedFile> read_file(const std::string& path, std::string etag) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return nullptr;
  auto file = std::make_shared<CachedFile>();
  file->body.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) return nullptr;
  file->etag = std::move(etag);
  file->content_type = std::string(content_type_for(path));
  if (file->body.size() >= kCompressFrom && is_text(file->content_type)) {
    std::string packed = gzip(file->body, kGzipSmallest);
    if (!packed.empty() && packed.size() < file->body.size()) file->gzipped = std::move(packed);
  }
  return file;
}

}  // namespace

std::shared_ptr<const CachedFile> StaticCache::get(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return nullptr;
  std::string etag = version_tag(info);
  {
    std::lock_guard lock(mutex_);
    const auto kept = files_.find(path);
    if (kept != files_.end() && kept->second->etag == etag) return kept->second;
  }
  std::shared_ptr<CachedFile> file = read_file(path, std::move(etag));
  if (!file) return nullptr;
  std::lock_guard lock(mutex_);
  const std::size_t size = file->body.size() + file->gzipped.size();
  const auto kept = files_.find(path);
  if (kept != files_.end()) {
    kept_bytes_ -= kept->second->body.size() + kept->second->gzipped.size();
    files_.erase(kept);
  }
  if (kept_bytes_ + size <= kMaxKeptBytes) {
    files_.emplace(path, file);
    kept_bytes_ += size;
  }
  return file;
}

}  // namespace kivo::web
