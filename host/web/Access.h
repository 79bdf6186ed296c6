#ifndef KIVO_HOST_WEB_ACCESS_H
#define KIVO_HOST_WEB_ACCESS_H

#include <string>
#include <vector>

#include "Tls.h"

namespace kivo::web {

// Who may open the display and how it is reached.
struct Access {
  std::string password_file;  // htdigest file every request authenticates against; empty: none
  std::string realm;          // the realm of its entries
  std::string certificate;    // PEM file with certificate and private key: HTTPS; empty: HTTP
  std::string metrics_token;  // bearer token that opens /metrics alone (MetricsToken.h); empty: none
};

// The longest password file read: many thousands of users.
inline constexpr std::size_t kMaxPasswordFileBytes = std::size_t{1} << 20;

// Reads an htdigest password file ("user:realm:HA1" lines, HA1 the MD5 of
// "user:realm:password" in hex, as `htdigest` writes them); empty with
// `realm` set when it holds at least one entry and all of one realm,
// otherwise why it cannot be used.
std::string read_password_realm(const std::string& path, std::string& realm);

// Whether the numeric address reaches only this machine (127.0.0.0/8, ::1).
bool is_loopback(const std::string& address);

// The hosts a browser can open for a server bound to `address`: for a
// wildcard address every address of this machine's interfaces (loopback
// first), otherwise the address itself; IPv6 ones in brackets.
std::vector<std::string> openable_hosts(const std::string& address);

}  // namespace kivo::web

#endif
