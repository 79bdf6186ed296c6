#include "MetricsToken.h"

#include <civetweb.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "HttpExchange.h"

namespace kivo::web {

namespace {

constexpr std::size_t kMaxTokenFile = 4096;
constexpr std::string_view kBearer = "bearer";

std::string mode_text(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

// The file's bytes, or why they cannot be read; refused unless a regular
// file that neither group nor others may read or write.
std::string read_private_file(const std::string& path, std::string& content) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return path + ": cannot be read (" + std::strerror(errno) + ")";
  struct stat info {};
  std::string problem;
  if (::fstat(fd, &info) != 0) problem = path + ": " + std::strerror(errno);
  else if (!S_ISREG(info.st_mode)) problem = path + ": not a regular file";
  else if ((info.st_mode & (S_IRWXG | S_IRWXO)) != 0)
    problem = path + ": other users may read or change it (mode " + mode_text(info.st_mode) +
              "); make it private: chmod 600 " + path;
  else if (info.st_size > static_cast<off_t>(kMaxTokenFile))
    problem = path + ": larger than " + std::to_string(kMaxTokenFile) + " bytes; a token is one line";
  char buffer[kMaxTokenFile];
  ssize_t got = 0;
  while (problem.empty() && (got = ::read(fd, buffer, sizeof buffer)) > 0) content.append(buffer, static_cast<std::size_t>(got));
  if (problem.empty() && got < 0) problem = path + ": cannot be read (" + std::strerror(errno) + ")";
  ::close(fd);
  return problem;
}

bool visible(char c) { return c > ' ' && c < 0x7f; }

bool same_in_constant_time(std::string_view a, std::string_view b) {
  unsigned char difference = a.size() == b.size() ? 0 : 1;
  for (std::size_t i = 0; i < a.size(); ++i)
    difference |= static_cast<unsigned char>(a[i] ^ (i < b.size() ? b[i] : 0));
  return difference == 0;
}

bool is_metrics_request(const mg_connection* connection) {
  const char* path = mg_get_request_info(connection)->local_uri_raw;
  return path != nullptr && std::strcmp(path, kMetricsPath) == 0;
}

}  // namespace

std::string read_metrics_token(const std::string& path, std::string& token) {
  std::string content;
  if (std::string problem = read_private_file(path, content); !problem.empty()) return problem;
  while (!content.empty() && (content.back() == '\n' || content.back() == '\r')) content.pop_back();
  if (content.empty()) return path + ": empty; put the token on its first line (e.g. openssl rand -hex 32)";
  if (!std::all_of(content.begin(), content.end(), visible))
    return path + ": the token must be one line of visible characters without spaces";
  token = content;
  return {};
}

bool bearer_token_matches(const char* authorization, const std::string& token) {
  if (authorization == nullptr || token.empty()) return false;
  std::string_view header(authorization);
  if (header.size() <= kBearer.size() || header[kBearer.size()] != ' ') return false;
  for (std::size_t i = 0; i < kBearer.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(header[i])) != kBearer[i]) return false;
  std::string_view presented = header.substr(kBearer.size());
  while (!presented.empty() && presented.front() == ' ') presented.remove_prefix(1);
  while (!presented.empty() && presented.back() == ' ') presented.remove_suffix(1);
  return same_in_constant_time(presented, token);
}

std::optional<int> authorize_metrics(mg_connection* connection, const Access& access) {
  const bool password = !access.password_file.empty();
  if (!is_metrics_request(connection)) return password ? std::nullopt : std::optional<int>(1);
  if (bearer_token_matches(mg_get_header(connection, "Authorization"), access.metrics_token)) return 1;
  if (password) return std::nullopt;
  if (access.metrics_token.empty()) return 1;
  send_error(connection, 401, "/metrics needs the bearer token of --metrics-token",
             "WWW-Authenticate: Bearer realm=\"kivo metrics\"\r\n");
  return 0;
}

}  // namespace kivo::web
