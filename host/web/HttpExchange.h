// Writing civetweb responses and reading request queries, shared by the
// display's request handlers. Connections are kept open between requests when
// the client and the server allow it (civetweb decides, and says so in the
// Connection header).
#ifndef KIVO_HOST_WEB_HTTP_EXCHANGE_H
#define KIVO_HOST_WEB_HTTP_EXCHANGE_H

#include <cstddef>
#include <string>
#include <string_view>

#include "StaticCache.h"
#include "ViewStore.h"

struct mg_connection;

namespace kivo::web {

// How long the server keeps an idle connection for the client's next request.
// Every response says so (Keep-Alive: timeout=N), so that clients stop reusing
// a connection before the server drops it rather than lose a request sent
// just as it does. Longer than the page's poll intervals, so that its polls
// reuse one connection (one TLS handshake) rather than open one each.
constexpr int kKeepAliveSeconds = 3;

// The status line and headers; `extra_headers` are whole lines, each ending in CRLF.
void send_head(mg_connection* connection, int status, std::string_view content_type,
               std::size_t content_length, std::string_view extra_headers);
// A whole response (the body left out for HEAD); returns `status`.
int send_text(mg_connection* connection, int status, std::string_view content_type,
              std::string_view body, std::string_view extra_headers, bool head);
// A plain-text error message as the whole response; returns `status`.
int send_error(mg_connection* connection, int status, std::string_view message,
               std::string_view extra_headers = {});

// "304 Not Modified" with `extra_headers` (the ETag and caching headers); returns 304.
int send_not_modified(mg_connection* connection, std::string_view extra_headers);
// A page or JSROOT file: 304 when the client holds this version (If-None-Match),
// gzip-compressed when there is a compressed copy and the client accepts it.
// Clients revalidate at each use, so that a changed file is fetched at once.
int send_static_file(mg_connection* connection, const CachedFile& file, bool head);

// Whether an If-None-Match header names `etag` (or "*").
bool etag_matches(const char* if_none_match, std::string_view etag);

// Reads ?instance=&since=&zoom=&recent= into `request`; empty, or what is wrong.
// Regions too large to be copied are left out: the page shows the overview there.
std::string parse_view_request(const char* query, ViewRequest& request);

// A variable of the request's query string, empty when absent or too long.
std::string query_text(const mg_connection* connection, const char* name);
// The same read as a number; 0 when absent or not one.
long query_number(const mg_connection* connection, const char* name);

}  // namespace kivo::web

#endif
