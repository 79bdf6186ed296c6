#include "RegistryUrl.h"

#include <libpq-fe.h>

#include <cctype>
#include <filesystem>
#include <memory>
#include <regex>

namespace kivo::registry {

namespace {

constexpr const char* kMask = "***";
// Shorter passwords are masked where the URL shows them, not wherever their
// letters happen to stand in a message.
constexpr std::size_t kShortestMaskedAnywhere = 4;

bool is_postgresql_url(const std::string& text) {
  return text.starts_with("postgresql://") || text.starts_with("postgres://");
}

// The URL with the password of its user part and of a password= parameter masked.
std::string masked_url(const std::string& text) {
  static const std::regex user_password(R"(^(postgres(?:ql)?://[^:@/?#]*:)[^@/?#]*@)");
  static const std::regex password_parameter(R"(([?&]password=)[^&#]*)");
  std::string shown = std::regex_replace(text, user_password, std::string("$1") + kMask + "@",
                                         std::regex_constants::format_first_only);
  return std::regex_replace(shown, password_parameter, std::string("$1") + kMask);
}

// The password part of the URL as written (percent-encoded), if any.
std::vector<std::string> written_passwords(const std::string& text) {
  static const std::regex user_password(R"(^postgres(?:ql)?://[^:@/?#]*:([^@/?#]*)@)");
  static const std::regex password_parameter(R"([?&]password=([^&#]*))");
  std::vector<std::string> found;
  std::smatch match;
  if (std::regex_search(text, match, user_password) && match[1].length() > 0) found.push_back(match[1]);
  for (auto it = std::sregex_iterator(text.begin(), text.end(), password_parameter); it != std::sregex_iterator();
       ++it)
    if ((*it)[1].length() > 0) found.push_back((*it)[1]);
  return found;
}

// "s3cr%40t" -> "s3cr@t".
std::string percent_decoded(const std::string& text) {
  std::string decoded;
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (text[at] == '%' && at + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[at + 1])) &&
        std::isxdigit(static_cast<unsigned char>(text[at + 2]))) {
      decoded += char(std::stoi(text.substr(at + 1, 2), nullptr, 16));
      at += 2;
    } else {
      decoded += text[at];
    }
  }
  return decoded;
}

// A port, or a list of them for several hosts: digits and commas.
bool is_port_list(const char* text) {
  for (const char* c = text; *c != '\0'; ++c)
    if (!std::isdigit(static_cast<unsigned char>(*c)) && *c != ',') return false;
  return true;
}

std::string without_trailing_newlines(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

std::string parse_postgresql(const std::string& text, RegistryUrl& url) {
  url.engine = Engine::postgresql;
  url.location = text;
  url.shown = masked_url(text);
  for (const std::string& written : written_passwords(text)) {
    url.secrets.push_back(written);
    url.secrets.push_back(percent_decoded(written));
  }
  char* problem = nullptr;
  std::unique_ptr<PQconninfoOption, decltype(&PQconninfoFree)> options(PQconninfoParse(text.c_str(), &problem),
                                                                          PQconninfoFree);
  if (!options) {
    const std::string reason = problem ? without_trailing_newlines(problem) : "out of memory";
    PQfreemem(problem);
    return masked(url, "cannot read the PostgreSQL URL " + url.shown + ": " + reason);
  }
  for (const PQconninfoOption* option = options.get(); option->keyword != nullptr; ++option) {
    if (option->val == nullptr || option->val[0] == '\0') continue;
    const std::string keyword = option->keyword;
    if (keyword == "password") url.secrets.emplace_back(option->val);
    if (keyword == "port" && !is_port_list(option->val))
      return masked(url, "cannot read the PostgreSQL URL " + url.shown + ": port '" + option->val + "' is not a number");
  }
  return {};
}

}  // namespace

std::string parse_registry_url(const std::string& text, RegistryUrl& url) {
  url = RegistryUrl();
  if (text.empty()) return "no registry given (a file path or a postgresql:// URL)";
  if (is_postgresql_url(text)) return parse_postgresql(text, url);
  if (const std::size_t scheme = text.find("://"); scheme != std::string::npos) {
    url.shown = text.substr(0, scheme) + "://...";
    return "'" + url.shown + "' is neither a file path (an SQLite registry) nor a postgresql:// URL";
  }
  url.engine = Engine::sqlite;
  url.location = text;
  url.shown = text;
  std::error_code error;
  if (std::filesystem::is_directory(text, error)) return text + ": is a directory, not a registry file";
  return {};
}

std::string masked(const RegistryUrl& url, std::string message) {
  if (url.engine == Engine::postgresql && url.location != url.shown)
    for (std::size_t at = message.find(url.location); at != std::string::npos;
         at = message.find(url.location, at + url.shown.size()))
      message.replace(at, url.location.size(), url.shown);
  for (const std::string& secret : url.secrets) {
    if (secret.size() < kShortestMaskedAnywhere) continue;
    for (std::size_t at = message.find(secret); at != std::string::npos; at = message.find(secret, at + 3))
      message.replace(at, secret.size(), kMask);
  }
  return message;
}

RegistryUrl archive_registry(const std::string& archive_directory) {
  RegistryUrl url;
  url.engine = Engine::sqlite;
  url.location = (std::filesystem::path(archive_directory) / "registry.sqlite").string();
  url.shown = url.location;
  return url;
}

}  // namespace kivo::registry
