#include "DigestAuth.h"

#include <civetweb.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <sstream>

#include "Access.h"
#include "HttpExchange.h"
#include "RegularFiles.h"

namespace kivo::web {

namespace {

using Fields = std::map<std::string, std::string>;

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return text;
}

// One value: "quoted, with \\-escapes" or a token up to the next comma.
std::string field_value(std::string_view& rest) {
  std::string value;
  if (!rest.starts_with('"')) {
    const std::size_t end = rest.find(',');
    value = std::string(rest.substr(0, end));
    while (!value.empty() && value.back() == ' ') value.pop_back();
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
    return value;
  }
  std::size_t at = 1;
  for (; at < rest.size() && rest[at] != '"'; ++at) {
    if (rest[at] == '\\' && at + 1 < rest.size()) ++at;
    value += rest[at];
  }
  rest.remove_prefix(std::min(at + 1, rest.size()));
  return value;
}

// The fields of "Digest name=value, name="value", ..." by lower-case name.
std::optional<Fields> digest_fields(const char* header) {
  if (header == nullptr) return std::nullopt;
  std::string_view rest(header);
  if (rest.size() < 7 || lower(std::string(rest.substr(0, 7))) != "digest ") return std::nullopt;
  rest.remove_prefix(7);
  Fields fields;
  for (;;) {
    while (!rest.empty() && (rest.front() == ' ' || rest.front() == ',')) rest.remove_prefix(1);
    if (rest.empty()) return fields;
    const std::size_t equals = rest.find('=');
    if (equals == std::string_view::npos) return std::nullopt;
    std::string name = lower(std::string(rest.substr(0, equals)));
    while (!name.empty() && name.back() == ' ') name.pop_back();
    rest.remove_prefix(equals + 1);
    while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
    if (!fields.emplace(std::move(name), field_value(rest)).second) return std::nullopt;
  }
}

std::string field(const Fields& fields, const char* name) {
  const auto found = fields.find(name);
  return found == fields.end() ? std::string() : found->second;
}

// Whether the uri the client answered for is the target requested: its path
// as civetweb decodes the request's, its query as sent.
bool names_request(const std::string& uri, std::string_view path, const char* query) {
  const std::size_t mark = uri.find('?');
  const std::string uri_path = uri.substr(0, mark);
  const std::string uri_query = mark == std::string::npos ? "" : uri.substr(mark + 1);
  std::string decoded(uri_path.size() + 1, '\0');
  const int length = mg_url_decode(uri_path.data(), int(uri_path.size()), decoded.data(), int(decoded.size()), 0);
  if (length < 0) return false;
  decoded.resize(std::size_t(length));
  return decoded == path && uri_query == (query ? query : "");
}

// Eight hex digits, not zero.
std::optional<std::uint32_t> nonce_count(const std::string& text) {
  if (text.size() != 8 || !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isxdigit(c); }))
    return std::nullopt;
  const auto count = static_cast<std::uint32_t>(std::strtoul(text.c_str(), nullptr, 16));
  if (count == 0) return std::nullopt;
  return count;
}

// Compares without stopping at the first difference, so that the time taken
// tells nothing of how much of an answer was right.
bool same_digest(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  unsigned char difference = 0;
  for (std::size_t i = 0; i < a.size(); ++i) difference |= static_cast<unsigned char>(a[i] ^ b[i]);
  return difference == 0;
}

}  // namespace

DigestAuth::DigestAuth(std::string password_file, std::string realm)
    : password_file_(std::move(password_file)), realm_(std::move(realm)) {}

bool DigestAuth::admit(mg_connection* connection) {
  const mg_request_info* request = mg_get_request_info(connection);
  const Verdict verdict =
      check(mg_get_header(connection, "Authorization"), request->request_method, request->request_uri,
            request->query_string);
  if (verdict == Verdict::granted) return true;
  send_error(connection, 401, "authentication required",
             "WWW-Authenticate: " + challenge(verdict == Verdict::stale) + "\r\n");
  return false;
}

DigestAuth::Verdict DigestAuth::check(const char* authorization, std::string_view method, std::string_view path,
                                      const char* query, Clock::time_point now) {
  const std::optional<Fields> fields = digest_fields(authorization);
  if (!fields) return Verdict::refused;
  const std::string uri = field(*fields, "uri"), nonce = field(*fields, "nonce"), nc = field(*fields, "nc");
  const std::string algorithm = lower(field(*fields, "algorithm"));
  const std::optional<std::uint32_t> count = nonce_count(nc);
  if (field(*fields, "realm") != realm_ || field(*fields, "qop") != "auth" || !count || nonce.empty() ||
      (!algorithm.empty() && algorithm != "md5") || !names_request(uri, path, query))
    return Verdict::refused;
  const std::string ha1 = ha1_of(field(*fields, "username"));
  if (ha1.empty()) return Verdict::refused;
  char ha2[33], expected[33];
  const std::string verb(method), cnonce = field(*fields, "cnonce");
  mg_md5(ha2, verb.c_str(), ":", uri.c_str(), nullptr);
  mg_md5(expected, ha1.c_str(), ":", nonce.c_str(), ":", nc.c_str(), ":", cnonce.c_str(), ":auth:", ha2, nullptr);
  if (!same_digest(lower(field(*fields, "response")), expected)) return Verdict::refused;
  std::lock_guard lock(mutex_);
  return take_count(nonce, *count, now) ? Verdict::granted : Verdict::stale;
}

std::string DigestAuth::user_of(const char* authorization) {
  const std::optional<Fields> fields = digest_fields(authorization);
  return fields ? field(*fields, "username") : std::string();
}

std::string DigestAuth::challenge(bool stale, Clock::time_point now) {
  std::lock_guard lock(mutex_);
  forget_expired(now);
  while (nonces_.size() >= kMaxNonces && !issued_.empty()) {
    nonces_.erase(issued_.front().first);
    issued_.pop_front();
  }
  char nonce[33];
  std::snprintf(nonce, sizeof nonce, "%08x%08x%08x%08x", random_(), random_(), random_(), random_());
  nonces_[nonce].issued = now;
  issued_.emplace_back(nonce, now);
  return "Digest realm=\"" + realm_ + "\", qop=\"auth\", algorithm=MD5, nonce=\"" + nonce + "\"" +
         (stale ? ", stale=true" : "");
}

bool DigestAuth::take_count(const std::string& nonce, std::uint32_t nc, Clock::time_point now) {
  forget_expired(now);
  const auto found = nonces_.find(nonce);
  if (found == nonces_.end()) return false;
  Nonce& taken = found->second;
  if (nc > taken.highest) {
    const std::uint32_t shift = nc - taken.highest;
    taken.taken = shift >= kCountWindow ? std::bitset<kCountWindow>() : taken.taken << shift;
    taken.taken.set(0);
    taken.highest = nc;
    return true;
  }
  const std::uint32_t behind = taken.highest - nc;
  if (behind >= kCountWindow || taken.taken.test(behind)) return false;
  taken.taken.set(behind);
  return true;
}

void DigestAuth::forget_expired(Clock::time_point now) {
  while (!issued_.empty() && now - issued_.front().second >= kNonceLifetime) {
    nonces_.erase(issued_.front().first);
    issued_.pop_front();
  }
}

std::string DigestAuth::ha1_of(const std::string& user) const {
  std::string problem;
  const std::optional<std::string> text = read_regular_file(password_file_, kMaxPasswordFileBytes, problem);
  if (!text) {
    log_once("--auth " + password_file_ + ": " + problem + ": every request is refused until it can be read");
    return {};
  }
  std::istringstream in(*text);
  const std::string prefix = user + ":" + realm_ + ":";
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!user.empty() && line.starts_with(prefix) && line.size() == prefix.size() + 32) return lower(line.substr(prefix.size()));
  }
  return {};
}

}  // namespace kivo::web
