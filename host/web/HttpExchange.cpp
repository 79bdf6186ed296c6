// Writing civetweb responses and reading request queries, for the display's handlers.
#include "HttpExchange.h"

#include <civetweb.h>

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Gzip.h"
#include "LiveCanvas.h"
#include "ZoomRequests.h"
#include "monitor_plugin.h"

namespace kivo::web {

namespace {

constexpr int kMapBinsX = kOverviewBinsX * kOverviewBlockX;
constexpr int kMapBinsY = kOverviewBinsY * kOverviewBlockY;
constexpr std::size_t kMaxQueryValue = 1024;

// A query variable's value; empty when absent. False when it does not fit.
bool query_value(const char* query, const char* name, std::string& value) {
  value.clear();
  if (query == nullptr) return true;
  char buffer[kMaxQueryValue];
  const int length = mg_get_var(query, std::strlen(query), name, buffer, sizeof buffer);
  if (length == -2) return false;
  if (length > 0) value.assign(buffer, static_cast<std::size_t>(length));
  return true;
}

bool parse_long(const std::string& text, long& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  value = std::strtol(text.c_str(), &end, 10);
  return errno == 0 && *end == '\0';
}

// "S:X1:X2:Y1:Y2:HELD", a region of a hit map and the version of it the page holds.
bool parse_zoom(const std::string& text, std::pair<MapRegion, long>& zoom) {
  long fields[6];
  std::size_t from = 0;
  for (int i = 0; i < 6; ++i) {
    const std::size_t colon = text.find(':', from);
    if ((colon == std::string::npos) != (i == 5)) return false;
    if (!parse_long(text.substr(from, colon - from), fields[i]) || fields[i] < 0 || fields[i] > INT32_MAX) return false;
    from = colon + 1;
  }
  zoom.first = {int(fields[0]), int(fields[1]), int(fields[2]), int(fields[3]), int(fields[4])};
  zoom.second = fields[5];
  return zoom.first.valid(HitMapSource::kStaves, kMapBinsX, kMapBinsY);
}

// "S:HELD", a stave whose recent map the page shows and the window it holds.
bool parse_recent(const std::string& text, std::pair<int, long>& recent) {
  const std::size_t colon = text.find(':');
  long stave = -1;
  if (colon == std::string::npos || !parse_long(text.substr(0, colon), stave) ||
      !parse_long(text.substr(colon + 1), recent.second) || recent.second < 0)
    return false;
  recent.first = static_cast<int>(stave);
  return stave >= 0 && stave < HitMapSource::kStaves;
}

// Each item of a comma-separated list read by `parse` into `items`; empty,
// or the first item it refuses.
template <class Item, class Parse>
std::string parse_list(const std::string& list, Parse&& parse, std::vector<Item>& items) {
  std::size_t from = 0;
  while (from < list.size()) {
    std::size_t comma = list.find(',', from);
    if (comma == std::string::npos) comma = list.size();
    Item item;
    const std::string text = list.substr(from, comma - from);
    if (!parse(text, item)) return text;
    items.push_back(item);
    from = comma + 1;
  }
  return {};
}

}  // namespace

// civetweb's response headers add "Connection: keep-alive" or "close" as the
// request and the server's settings allow.
void send_head(mg_connection* connection, int status, std::string_view content_type,
               std::size_t content_length, std::string_view extra_headers) {
  mg_response_header_start(connection, status);
  mg_response_header_add(connection, "Content-Type", content_type.data(), static_cast<int>(content_type.size()));
  mg_response_header_add(connection, "Content-Length", std::to_string(content_length).c_str(), -1);
  mg_response_header_add(connection, "X-Content-Type-Options", "nosniff", -1);
  static const std::string keep_alive = "timeout=" + std::to_string(kKeepAliveSeconds);
  mg_response_header_add(connection, "Keep-Alive", keep_alive.c_str(), -1);
  if (!extra_headers.empty()) mg_response_header_add_lines(connection, std::string(extra_headers).c_str());
  mg_response_header_send(connection);
}

int send_text(mg_connection* connection, int status, std::string_view content_type,
              std::string_view body, std::string_view extra_headers, bool head) {
  send_head(connection, status, content_type, body.size(), extra_headers);
  if (!head && !body.empty()) mg_write(connection, body.data(), body.size());
  return status;
}

int send_error(mg_connection* connection, int status, std::string_view message,
               std::string_view extra_headers) {
  const bool head = std::strcmp(mg_get_request_info(connection)->request_method, "HEAD") == 0;
  return send_text(connection, status, "text/plain; charset=utf-8", std::string(message) + "\n",
                   extra_headers, head);
}

// No body and so no length: the client keeps the one it holds.
int send_not_modified(mg_connection* connection, std::string_view extra_headers) {
  mg_response_header_start(connection, 304);
  if (!extra_headers.empty()) mg_response_header_add_lines(connection, std::string(extra_headers).c_str());
  mg_response_header_send(connection);
  return 304;
}

int send_static_file(mg_connection* connection, const CachedFile& file, bool head) {
  const std::string headers = "ETag: " + file.etag + "\r\nCache-Control: no-cache\r\n" +
                              (file.gzipped.empty() ? "" : "Vary: Accept-Encoding\r\n");
  if (etag_matches(mg_get_header(connection, "If-None-Match"), file.etag))
    return send_not_modified(connection, headers);
  if (!file.gzipped.empty() && accepts_gzip(mg_get_header(connection, "Accept-Encoding")))
    return send_text(connection, 200, file.content_type, file.gzipped, headers + "Content-Encoding: gzip\r\n", head);
  return send_text(connection, 200, file.content_type, file.body, headers, head);
}

bool etag_matches(const char* if_none_match, std::string_view etag) {
  if (if_none_match == nullptr) return false;
  std::string_view list(if_none_match);
  while (!list.empty()) {
    const auto comma = list.find(',');
    std::string_view candidate = list.substr(0, comma);
    while (!candidate.empty() && candidate.front() == ' ') candidate.remove_prefix(1);
    while (!candidate.empty() && candidate.back() == ' ') candidate.remove_suffix(1);
    if (candidate.starts_with("W/")) candidate.remove_prefix(2);
    if (candidate == "*" || candidate == etag) return true;
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  return false;
}

// Reads ?instance=&since=&zoom=&recent= into `request`; empty, or what is wrong.
// Regions too large to be copied are left out: the page shows the overview there.
std::string parse_view_request(const char* query, ViewRequest& request) {
  std::string since, zooms, recent;
  if (!query_value(query, "instance", request.instance) || !query_value(query, "since", since) ||
      !query_value(query, "zoom", zooms) || !query_value(query, "recent", recent))
    return "query too long";
  if (!since.empty() && !parse_long(since, request.since)) return "since is not a version number: " + since;
  std::vector<std::pair<MapRegion, long>> asked;
  if (const std::string bad = parse_list(zooms, parse_zoom, asked); !bad.empty())
    return "not a hit-map region STAVE:X1:X2:Y1:Y2:HELD: " + bad;
  for (const auto& zoom : asked)
    if (zoom.first.bins() <= LiveCanvas::kMaxRegionBins && request.regions.size() < ZoomRequests::kMaxRegions)
      request.regions.push_back(zoom);
  if (const std::string bad = parse_list(recent, parse_recent, request.recent); !bad.empty())
    return "not a recent map STAVE:HELD (stave 0 to " + std::to_string(HitMapSource::kStaves - 1) + "): " + bad;
  return {};
}

// A variable of the request's query string, empty when absent or too long.
std::string query_text(const mg_connection* connection, const char* name) {
  std::string value;
  return query_value(mg_get_request_info(connection)->query_string, name, value) ? value : "";
}

long query_number(const mg_connection* connection, const char* name) {
  const std::string text = query_text(connection, name);
  long value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

}  // namespace kivo::web
