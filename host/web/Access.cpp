#include "Access.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>

#include <algorithm>
#include <cctype>
#include <optional>
#include <sstream>

#include "RegularFiles.h"

namespace kivo::web {

namespace {

constexpr std::size_t kDigestLength = 32;

bool hexadecimal(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isxdigit(c) != 0; });
}

// "user:realm:HA1" with a non-empty user and realm; its realm, empty when malformed.
std::string realm_of_entry(const std::string& line) {
  const auto first = line.find(':');
  const auto second = first == std::string::npos ? first : line.find(':', first + 1);
  if (first == 0 || second == std::string::npos || second == first + 1) return {};
  const std::string digest = line.substr(second + 1);
  if (digest.size() != kDigestLength || !hexadecimal(digest)) return {};
  return line.substr(first + 1, second - first - 1);
}

std::string host_text(const sockaddr* address) {
  char text[INET6_ADDRSTRLEN] = "";
  const void* raw = address->sa_family == AF_INET
                        ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in*>(address)->sin_addr)
                        : static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr);
  inet_ntop(address->sa_family, raw, text, sizeof text);
  const std::string host = text;
  return address->sa_family == AF_INET6 ? "[" + host + "]" : host;
}

}  // namespace

std::string read_password_realm(const std::string& path, std::string& realm) {
  std::string problem;
  const std::optional<std::string> text = read_regular_file(path, kMaxPasswordFileBytes, problem);
  if (!text) return path + ": cannot be read: " + problem;
  std::istringstream in(*text);
  std::string line;
  realm.clear();
  for (int number = 1; std::getline(in, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    const std::string entry_realm = realm_of_entry(line);
    if (entry_realm.empty())
      return path + ": line " + std::to_string(number) + " is not 'user:realm:HA1' as htdigest writes it";
    if (!realm.empty() && entry_realm != realm)
      return path + ": line " + std::to_string(number) + " has realm '" + entry_realm + "', others '" + realm +
             "'; use one realm";
    realm = entry_realm;
  }
  if (realm.empty()) return path + ": no user in it (create one with: htdigest -c " + path + " kivo USER)";
  return {};
}

bool is_loopback(const std::string& address) {
  in_addr v4{};
  in6_addr v6{};
  if (inet_pton(AF_INET, address.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  return inet_pton(AF_INET6, address.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

std::vector<std::string> openable_hosts(const std::string& address) {
  const bool any_v4 = address == "0.0.0.0";
  const bool any_v6 = address == "::";
  if (!any_v4 && !any_v6) return {address.find(':') != std::string::npos ? "[" + address + "]" : address};
  std::vector<std::string> loopback, others;
  ifaddrs* interfaces = nullptr;
  if (getifaddrs(&interfaces) == 0) {
    for (const ifaddrs* entry = interfaces; entry; entry = entry->ifa_next) {
      if (!entry->ifa_addr || (entry->ifa_addr->sa_family != AF_INET && entry->ifa_addr->sa_family != AF_INET6))
        continue;
      if (any_v4 && entry->ifa_addr->sa_family != AF_INET) continue;
      std::string host = host_text(entry->ifa_addr);
      if (host.find('%') != std::string::npos || host.starts_with("[fe80:")) continue;  // link-local
      std::vector<std::string>& list = is_loopback(host.starts_with("[") ? host.substr(1, host.size() - 2) : host)
                                           ? loopback
                                           : others;
      if (std::find(list.begin(), list.end(), host) == list.end()) list.push_back(host);
    }
    freeifaddrs(interfaces);
  }
  loopback.insert(loopback.end(), others.begin(), others.end());
  if (loopback.empty()) loopback.push_back(any_v4 ? "127.0.0.1" : "[::1]");
  return loopback;
}

}  // namespace kivo::web
