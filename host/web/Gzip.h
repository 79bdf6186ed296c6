#ifndef KIVO_HOST_WEB_GZIP_H
#define KIVO_HOST_WEB_GZIP_H

#include <string>
#include <string_view>

namespace kivo::web {

// zlib's compression levels: the fastest, for data sent once; the smallest,
// for files compressed once and sent many times.
inline constexpr int kGzipFastest = 1;
inline constexpr int kGzipSmallest = 9;

// `text` in gzip format (RFC 1952) at `level`; empty if zlib fails.
std::string gzip(std::string_view text, int level = kGzipFastest);

// Whether an Accept-Encoding header value accepts gzip (present, q not 0).
bool accepts_gzip(const char* accept_encoding);

}  // namespace kivo::web

#endif
