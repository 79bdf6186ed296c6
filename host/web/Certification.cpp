#include "Certification.h"

#include <civetweb.h>

#include <cstring>
#include <optional>
#include <nlohmann/json.hpp>
#include <string_view>

#include "DigestAuth.h"
#include "HttpExchange.h"

namespace kivo::web {

namespace {

int send_json_error(mg_connection* connection, int status, const std::string& message,
                    std::string_view headers = {}) {
  const std::string body = nlohmann::json{{"ok", false}, {"error", message}}.dump(
      -1, ' ', false, nlohmann::json::error_handler_t::replace);
  return send_text(connection, status, "application/json", body, std::string(headers) + "Cache-Control: no-store\r\n",
                   false);
}

bool is_json(const char* content_type) {
  if (content_type == nullptr) return false;
  std::string_view type(content_type);
  type = type.substr(0, type.find(';'));
  while (!type.empty() && type.back() == ' ') type.remove_suffix(1);
  return type == "application/json";
}

// The body, when it is no longer than kMaxCertifyBody.
std::optional<std::string> read_body(mg_connection* connection) {
  const long long declared = mg_get_request_info(connection)->content_length;
  if (declared > static_cast<long long>(kMaxCertifyBody)) return std::nullopt;
  std::string body;
  char buffer[1024];
  for (;;) {
    const int got = mg_read(connection, buffer, sizeof buffer);
    if (got <= 0) return body;
    body.append(buffer, std::size_t(got));
    if (body.size() > kMaxCertifyBody) return std::nullopt;
  }
}

// The request's fields, or why they cannot be read.
std::string read_request(const std::string& body, CertifyRequest& request) {
  const nlohmann::json parsed = nlohmann::json::parse(body, nullptr, false);
  if (!parsed.is_object()) return "the body is not a JSON object";
  const auto id = parsed.find("id"), verdict = parsed.find("verdict"), comment = parsed.find("comment");
  if (id == parsed.end() || !id->is_number_integer() || id->get<long long>() < 1)
    return "\"id\" must be the run's id from /runs.json";
  if (verdict == parsed.end() || !verdict->is_string()) return "\"verdict\" must be Good, Bad or not for analysis";
  if (comment != parsed.end() && !comment->is_string()) return "\"comment\" must be text";
  request.run_id = id->get<long long>();
  request.verdict = verdict->get<std::string>();
  request.comment = comment == parsed.end() ? "" : comment->get<std::string>();
  return certification_problem(request.verdict, request.comment);
}

}  // namespace

// The scheme is left out: behind a reverse proxy that serves HTTPS, the page's
// origin is https:// while kivo itself speaks HTTP.
std::string foreign_request_problem(const char* origin, const char* fetch_site, const char* host) {
  if (fetch_site != nullptr && std::strcmp(fetch_site, "same-origin") != 0)
    return std::string("a request from another site (Sec-Fetch-Site: ") + fetch_site + ")";
  if (origin == nullptr) return {};
  if (host == nullptr) return "a request with an Origin but no Host";
  std::string_view from(origin);
  for (std::string_view scheme : {"http://", "https://"})
    if (from.starts_with(scheme)) from.remove_prefix(scheme.size());
  if (from != host) return std::string("a request from another origin (") + origin + ")";
  return {};
}

int respond_certify(mg_connection* connection, RunCatalogue* catalogue, const CertifyAccess& access) {
  const mg_request_info* info = mg_get_request_info(connection);
  if (std::strcmp(info->request_method, "POST") != 0)
    return send_json_error(connection, 405, "certify with POST", "Allow: POST\r\n");
  if (catalogue == nullptr) return send_json_error(connection, 404, "this kivo keeps no run registry");
  if (const std::string problem = foreign_request_problem(mg_get_header(connection, "Origin"),
                                                          mg_get_header(connection, "Sec-Fetch-Site"),
                                                          mg_get_header(connection, "Host"));
      !problem.empty())
    return send_json_error(connection, 403, "refused: " + problem);
  if (!is_json(mg_get_header(connection, "Content-Type")))
    return send_json_error(connection, 415, "the body must be application/json");
  CertifyRequest request;
  if (access.digest) {
    request.user = DigestAuth::user_of(mg_get_header(connection, "Authorization"));
  } else if (access.loopback_bind) {
    request.user = "operator";
  } else {
    return send_json_error(connection, 403,
                           "certification needs --auth on a display that listens beyond this machine");
  }
  if (request.user.empty()) return send_json_error(connection, 403, "no authenticated user");
  const std::optional<std::string> body = read_body(connection);
  if (!body) return send_json_error(connection, 413, "the body is longer than " + std::to_string(kMaxCertifyBody) +
                                                         " bytes");
  if (const std::string problem = read_request(*body, request); !problem.empty())
    return send_json_error(connection, 400, problem);
  const CatalogueAnswer answer = catalogue->certify(request);
  return send_text(connection, answer.status, "application/json", answer.body, "Cache-Control: no-store\r\n", false);
}

}  // namespace kivo::web
