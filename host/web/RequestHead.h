// Checks of a request's head that every endpoint needs, made before any
// handler runs (and before authentication): its framing and its path.
//
// Framing as RFC 9112 sets it: a request with more than one Content-Length,
// one that is not a number, both Content-Length and Transfer-Encoding, a
// Transfer-Encoding other than chunked, whitespace between a header name and
// its colon, or more header lines than the server reads, could be read one
// way by a proxy in front of kivo and another way by kivo (request
// smuggling). Such a request is answered 400 and its connection closed.
//
// The path: civetweb percent-decodes the request target in place and ends
// it at the first NUL it decodes, so that "/archive/run1.root%00.txt" would
// name run1.root. decoded_path() gives the whole decoded path instead.
//
// Both read the head where civetweb parsed it: in place, in one buffer, each
// name, value and word ended by the NULs it wrote over the separators.
#ifndef KIVO_HOST_WEB_REQUEST_HEAD_H
#define KIVO_HOST_WEB_REQUEST_HEAD_H

#include <optional>
#include <string>

struct mg_request_info;

namespace kivo::web {

// Why the head's framing is refused, empty when it is sound.
std::string framing_problem(const mg_request_info& request);

// The request's path, percent-decoded, with every byte the decoding gave
// (NULs included); none when it cannot be told.
std::optional<std::string> decoded_path(const mg_request_info& request);

// Whether a decoded path holds a NUL or another control character: no name
// the display serves does, and a name is served only as written.
bool has_control_character(const std::string& path);

}  // namespace kivo::web

#endif
