#include "http_crowd.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace {

struct Client {
  int fd = -1;
  std::size_t sent = 0;
  std::string reply;
};

}  // namespace

int connect_from(const std::string& from, int port, bool blocking) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (blocking ? 0 : SOCK_NONBLOCK), 0);
  if (fd < 0) return -1;
  sockaddr_in source{}, target{};
  source.sin_family = target.sin_family = AF_INET;
  inet_pton(AF_INET, from.c_str(), &source.sin_addr);
  target.sin_port = htons(static_cast<uint16_t>(port));
  target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(fd, reinterpret_cast<sockaddr*>(&source), sizeof source) != 0 ||
      (connect(fd, reinterpret_cast<sockaddr*>(&target), sizeof target) != 0 && errno != EINPROGRESS)) {
    close(fd);
    return -1;
  }
  return fd;
}

HttpCrowd::HttpCrowd(int port, int count, std::string target, std::string from)
    : request_("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n"),
      from_(std::move(from)),
      thread_([this, port, count] { run(port, count); }) {}

HttpCrowd::~HttpCrowd() { stop(); }

HttpCrowd::Tally HttpCrowd::stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  return tally_;
}

void HttpCrowd::run(int port, int count) {
  std::vector<Client> clients(static_cast<std::size_t>(count));
  std::vector<pollfd> waiting(clients.size());
  const auto finish = [this](Client& client) {
    if (client.reply.starts_with("HTTP/1.1 200")) ++tally_.answered;
    else if (client.reply.starts_with("HTTP/1.1 503")) ++tally_.refused;
    else ++tally_.other;
    close(client.fd);
    client = Client{};
  };
  while (!stop_) {
    for (std::size_t i = 0; i < clients.size(); ++i) {
      if (clients[i].fd < 0) clients[i].fd = connect_from(from_, port, false);
      const bool sending = clients[i].sent < request_.size();
      waiting[i] = {clients[i].fd, static_cast<short>(sending ? POLLOUT : POLLIN), 0};
    }
    if (poll(waiting.data(), waiting.size(), 50) <= 0) continue;
    for (std::size_t i = 0; i < clients.size(); ++i) {
      Client& client = clients[i];
      if (client.fd < 0 || waiting[i].revents == 0) continue;
      if (client.sent < request_.size()) {
        const ssize_t n = send(client.fd, request_.data() + client.sent, request_.size() - client.sent, MSG_NOSIGNAL);
        if (n > 0) client.sent += static_cast<std::size_t>(n);
        else if (errno != EAGAIN) finish(client);
        continue;
      }
      char buffer[4096];
      const ssize_t n = recv(client.fd, buffer, sizeof buffer, 0);
      if (n > 0) client.reply.append(buffer, static_cast<std::size_t>(n));
      else if (n == 0 || errno != EAGAIN) finish(client);
    }
  }
  for (Client& client : clients)
    if (client.fd >= 0) close(client.fd);
}
