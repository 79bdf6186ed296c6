#ifndef KIVO_TESTS_WEBSERVER_HTTP_CLIENT_H
#define KIVO_TESTS_WEBSERVER_HTTP_CLIENT_H

#include <map>
#include <string>

// Minimal blocking HTTP/1.1 client for the server tests: one request per connection.
struct HttpResponse {
  int status = 0;
  std::map<std::string, std::string> headers;  // names lower-cased
  std::string body;

  // Value of a header (name in lower case), empty when absent.
  std::string header(const std::string& name) const {
    const auto found = headers.find(name);
    return found == headers.end() ? std::string() : found->second;
  }
};

// Sends "METHOD TARGET HTTP/1.1" with the given extra header lines (each ending in
// "\r\n") to 127.0.0.1:port and reads until the server closes. status 0 on failure.
HttpResponse http_request(int port, const std::string& method, const std::string& target,
                          const std::string& extra_headers = {});

// Sends `requests` as they are (several, to see a connection kept open) and
// returns all the server sends until it closes.
std::string http_exchange(int port, const std::string& requests);

// The port of an address "http://HOST:PORT/".
int port_of(const std::string& address);

// The text of gzip `data`; empty when it is not gzip.
std::string gunzip(const std::string& data);

#endif
