// The client side of HTTP digest authentication, as a browser answers a
// challenge, for the tests of the display's password check.
#ifndef KIVO_TESTS_WEBSERVER_DIGEST_CLIENT_H
#define KIVO_TESTS_WEBSERVER_DIGEST_CLIENT_H

#include <string>

// The MD5 of `text` in hex.
std::string md5(const std::string& text);

// The value of `name`="..." (or unquoted) in a WWW-Authenticate header.
std::string parameter(const std::string& header, const std::string& name);

// The Authorization header line (ending in CRLF) answering a digest
// challenge for a request of `method` for `uri`.
std::string digest_answer(const std::string& challenge, const std::string& user, const std::string& password,
                          const std::string& uri, const std::string& nc = "00000001",
                          const std::string& method = "GET");

#endif
