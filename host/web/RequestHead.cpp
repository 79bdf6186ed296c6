#include "RequestHead.h"

#include <civetweb.h>

#include <algorithm>
#include <cstring>
#include <string_view>

namespace kivo::web {

namespace {

bool same_name(const char* name, std::string_view wanted) {
  return std::strlen(name) == wanted.size() &&
         std::equal(wanted.begin(), wanted.end(), name, [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
         });
}

bool all_digits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

bool is_chunked(std::string_view coding) {
  return coding.size() == 7 && same_name(std::string(coding).c_str(), "chunked");
}

// civetweb ends a name at the first space before its colon and writes NULs
// over the spaces and the colon; after "Name: value" the byte after the
// name's end is the colon's NUL followed by the value or a space.
bool space_before_colon(const mg_header& header) {
  const char* end = header.name + std::strlen(header.name);
  return header.value > end + 1 && end[1] == '\0';
}

// Whether more header lines follow the last one civetweb kept: its value
// ends with the NULs written over CR LF, then comes the empty line that
// ends the head, or another header.
bool lines_beyond(const mg_header& last) {
  const char* next = last.value + std::strlen(last.value);
  for (int i = 0; i < 2 && *next == '\0'; ++i) ++next;
  return *next != '\r' && *next != '\n' && *next != '\0';
}

}  // namespace

std::string framing_problem(const mg_request_info& request) {
  int lengths = 0, encodings = 0;
  for (int i = 0; i < request.num_headers; ++i) {
    const mg_header& header = request.http_headers[i];
    if (space_before_colon(header)) return "whitespace between the header name '" + std::string(header.name) +
                                           "' and its colon";
    if (same_name(header.name, "Content-Length")) {
      ++lengths;
      if (!all_digits(trimmed(header.value))) return "a Content-Length that is not a number of bytes";
    }
    if (same_name(header.name, "Transfer-Encoding")) {
      ++encodings;
      if (!is_chunked(trimmed(header.value))) return "a Transfer-Encoding other than chunked";
    }
  }
  if (request.num_headers == MG_MAX_HEADERS && lines_beyond(request.http_headers[MG_MAX_HEADERS - 1]))
    return "more than " + std::to_string(MG_MAX_HEADERS) + " header lines";
  if (lengths > 1) return "more than one Content-Length";
  if (encodings > 1) return "more than one Transfer-Encoding";
  if (lengths > 0 && encodings > 0) return "both Content-Length and Transfer-Encoding";
  return {};
}

// The target "/a%00b?q" becomes, in place, "/a" NUL "b" NUL then what is
// left of the raw text ("0b"), then the NUL written over '?' (or over the
// space before the version). Decoding only shortens and the raw text holds
// no NUL, so the decoded path ends at the last NUL before that end.
std::optional<std::string> decoded_path(const mg_request_info& request) {
  const char* start = request.local_uri_raw;
  const char* target = request.request_uri;
  if (start == nullptr || target == nullptr || request.http_version == nullptr) return std::nullopt;
  const char* end = nullptr;
  if (request.query_string != nullptr) {
    end = request.query_string - 1;
  } else {
    end = request.http_version - std::strlen("HTTP/");  // the version's word
    while (end > target && end[-1] == '\0') --end;       // the spaces before it
  }
  if (!(target <= start && start <= end)) return std::nullopt;
  const char* last_nul = end;
  while (last_nul > start && last_nul[-1] != '\0') --last_nul;
  if (last_nul == start) return std::string(start, static_cast<std::size_t>(end - start));  // nothing decoded
  return std::string(start, static_cast<std::size_t>(last_nul - 1 - start));
}

bool has_control_character(const std::string& path) {
  return std::any_of(path.begin(), path.end(), [](unsigned char c) { return c < 0x20 || c == 0x7f; });
}

}  // namespace kivo::web
