#ifndef KIVO_HOST_WEB_GZIP_H
#define KIVO_HOST_WEB_GZIP_H

#include <string>
#include <string_view>

namespace kivo::web {

// `text` in gzip format (RFC 1952) at zlib's fastest level; empty if zlib fails.
std::string gzip(std::string_view text);

// Whether an Accept-Encoding header value accepts gzip (present, q not 0).
bool accepts_gzip(const char* accept_encoding);

}  // namespace kivo::web

#endif
