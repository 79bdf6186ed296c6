// --metrics-token FILE: a bearer token that opens /metrics alone, for
// Prometheus, which cannot answer HTTP digest authentication. The token file
// must be private to its owner; the token is compared in constant time.
#ifndef KIVO_HOST_WEB_METRICS_TOKEN_H
#define KIVO_HOST_WEB_METRICS_TOKEN_H

#include <optional>
#include <string>

#include "Access.h"

struct mg_connection;

namespace kivo::web {

// The path the token opens.
inline constexpr const char* kMetricsPath = "/metrics";

// Reads the token from `path`: one line of visible characters, no spaces.
// Empty with `token` set, or why the file cannot be used (not a private
// regular file, empty, more than one word).
std::string read_metrics_token(const std::string& path, std::string& token);

// Whether an Authorization header carries "Bearer TOKEN" with `token`.
bool bearer_token_matches(const char* authorization, const std::string& token);

// The decision of the display's authorisation for what the metrics token
// and --auth leave open: 1 to serve, 0 when refused (the 401 sent), nothing
// when the digest password decides. Without a password file every path but
// /metrics is open; /metrics is open to the token, and without a password
// file to nothing else.
std::optional<int> authorize_metrics(mg_connection* connection, const Access& access);

}  // namespace kivo::web

#endif
