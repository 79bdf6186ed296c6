#include "RootCompression.h"

#include <zlib.h>

#include <algorithm>

namespace rootcompat {

namespace {

constexpr std::size_t kMaxBlock = 0xffffff;  // ROOT's kMAXZIPBUF
constexpr std::size_t kHeaderSize = 9;
constexpr std::size_t kMinCompressed = 256;  // TKey stores shorter payloads as they are

void PutSize(char* p, std::size_t n) {
  p[0] = char(n & 0xff);
  p[1] = char((n >> 8) & 0xff);
  p[2] = char((n >> 16) & 0xff);
}

// Appends one block; false when its compressed form (with header) would not
// be shorter than the block, as ROOT's R__zip refuses then.
bool AppendBlock(std::string_view block, int level, std::string& out) {
  const std::size_t start = out.size();
  out.resize(start + kHeaderSize + compressBound(uLong(block.size())));
  uLongf compressed = uLongf(out.size() - start - kHeaderSize);
  const int status = compress2(reinterpret_cast<Bytef*>(out.data() + start + kHeaderSize), &compressed,
                               reinterpret_cast<const Bytef*>(block.data()), uLong(block.size()), level);
  if (status != Z_OK || kHeaderSize + compressed >= block.size()) return false;
  char* header = out.data() + start;
  header[0] = 'Z';
  header[1] = 'L';
  header[2] = Z_DEFLATED;
  PutSize(header + 3, compressed);
  PutSize(header + 6, block.size());
  out.resize(start + kHeaderSize + compressed);
  return true;
}

}  // namespace

bool CompressPayload(std::string_view payload, Int_t level, std::string& out) {
  out.clear();
  if (level <= 0 || payload.size() <= kMinCompressed) return false;
  level = std::min<Int_t>(level, Z_BEST_COMPRESSION);
  for (std::size_t offset = 0; offset < payload.size(); offset += kMaxBlock) {
    if (!AppendBlock(payload.substr(offset, kMaxBlock), level, out)) {
      out.clear();
      return false;
    }
  }
  return true;
}

}  // namespace rootcompat
