#include "digest_client.h"

#include <civetweb.h>

std::string md5(const std::string& text) {
  char hex[33];
  mg_md5(hex, text.c_str(), nullptr);
  return hex;
}

std::string parameter(const std::string& header, const std::string& name) {
  const auto at = header.find(name + "=");
  if (at == std::string::npos) return {};
  std::size_t start = at + name.size() + 1;
  const bool quoted = header[start] == '"';
  if (quoted) ++start;
  const auto end = header.find(quoted ? "\"" : ",", start);
  return header.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::string digest_answer(const std::string& challenge, const std::string& user, const std::string& password,
                          const std::string& uri, const std::string& nc, const std::string& method) {
  const std::string realm = parameter(challenge, "realm"), nonce = parameter(challenge, "nonce");
  const std::string ha1 = md5(user + ":" + realm + ":" + password), ha2 = md5(method + ":" + uri);
  const std::string cnonce = "0a4f113b";
  const std::string response = md5(ha1 + ":" + nonce + ":" + nc + ":" + cnonce + ":auth:" + ha2);
  std::string header = "Authorization: Digest username=\"" + user + "\", realm=\"" + realm + "\", nonce=\"" + nonce +
                       "\", uri=\"" + uri + "\", qop=auth, nc=" + nc + ", cnonce=\"" + cnonce + "\", response=\"" +
                       response + "\"";
  if (const std::string opaque = parameter(challenge, "opaque"); !opaque.empty()) header += ", opaque=\"" + opaque + "\"";
  return header + "\r\n";
}
