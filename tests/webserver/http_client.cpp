#include "http_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <zlib.h>

#include <algorithm>
#include <cctype>

namespace {

int connect_local(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool send_all(int fd, const std::string& data) {
  std::size_t sent = 0;
  while (sent < data.size()) {
    const ssize_t n = send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

std::string receive_all(int fd) {
  std::string data;
  char buffer[8192];
  ssize_t n = 0;
  while ((n = recv(fd, buffer, sizeof buffer, 0)) > 0) data.append(buffer, n);
  return data;
}

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

HttpResponse parse_response(const std::string& raw) {
  HttpResponse response;
  const auto header_end = raw.find("\r\n\r\n");
  if (header_end == std::string::npos || raw.compare(0, 5, "HTTP/") != 0) return response;
  response.status = std::stoi(raw.substr(raw.find(' ') + 1, 3));
  std::size_t line_start = raw.find("\r\n") + 2;
  while (line_start < header_end) {
    const auto line_end = raw.find("\r\n", line_start);
    const std::string line = raw.substr(line_start, line_end - line_start);
    const auto colon = line.find(':');
    if (colon != std::string::npos) {
      const auto value_start = line.find_first_not_of(' ', colon + 1);
      response.headers[lower(line.substr(0, colon))] =
          value_start == std::string::npos ? "" : line.substr(value_start);
    }
    line_start = line_end + 2;
  }
  response.body = raw.substr(header_end + 4);
  return response;
}

}  // namespace

HttpResponse http_request(int port, const std::string& method, const std::string& target,
                          const std::string& extra_headers) {
  const int fd = connect_local(port);
  if (fd < 0) return {};
  const std::string request = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
                              extra_headers + "Connection: close\r\n\r\n";
  std::string raw;
  if (send_all(fd, request)) raw = receive_all(fd);
  close(fd);
  return parse_response(raw);
}

std::string http_exchange(int port, const std::string& requests) {
  const int fd = connect_local(port);
  if (fd < 0) return {};
  std::string raw;
  if (send_all(fd, requests)) raw = receive_all(fd);
  close(fd);
  return raw;
}

std::string gunzip(const std::string& data) {
  z_stream stream{};
  if (inflateInit2(&stream, 15 + 16) != Z_OK) return {};
  std::string out(1 << 20, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = uInt(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = uInt(out.size());
  const bool whole = inflate(&stream, Z_FINISH) == Z_STREAM_END;
  out.resize(stream.total_out);
  inflateEnd(&stream);
  return whole ? out : std::string();
}

int port_of(const std::string& address) { return std::stoi(address.substr(address.rfind(':') + 1)); }
