#include "ConnectionGate.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "ThreadPriority.h"

namespace kivo::web {

namespace {

// A whole plain-text response that closes the connection.
std::string plain_response(const char* status, const std::string& message, const char* extra_headers = "") {
  return std::string("HTTP/1.1 ") + status + "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " +
         std::to_string(message.size()) + "\r\n" + extra_headers + "Connection: close\r\n\r\n" + message;
}

const std::string kTooManyConnections = plain_response(
    "503 Service Unavailable", "too many connections from this address at once\n", "Retry-After: 1\r\n");
const std::string kRequestTooSlow = plain_response("408 Request Timeout", "the request did not come in time\n");

// The numeric host and the port of an IPv4 or IPv6 socket address.
bool host_and_port(const sockaddr_storage& address, std::string& host, int& port) {
  char text[INET6_ADDRSTRLEN] = "";
  if (address.ss_family == AF_INET) {
    const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
    inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
    port = ntohs(v4.sin_port);
  } else if (address.ss_family == AF_INET6) {
    const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
    inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
    port = ntohs(v6.sin6_port);
  } else {
    return false;
  }
  host = text;
  return true;
}

bool wildcard(const std::string& address) { return address == "0.0.0.0" || address == "::"; }

}  // namespace

ConnectionGate::~ConnectionGate() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void ConnectionGate::start(const std::string& address, int port) {
  {
    std::lock_guard lock(mutex_);  // workers may look already
    address_ = address;
    port_ = port;
  }
  thread_ = std::thread([this] { run(); });
}

// A worker never waits for the gate: while another looks, that look or the
// next one finds this connection.
void ConnectionGate::connection_taken() {
  std::unique_lock lock(mutex_, std::try_to_lock);
  if (lock.owns_lock() && Clock::now() - last_look_ >= kLookAtMostEvery) look();
}

void ConnectionGate::request_read(const std::string& address, int port) {
  std::lock_guard lock(mutex_);
  for (auto& [inode, connection] : connections_) {
    if (connection.port == port && connection.address == address) {
      connection.requested = true;
      return;
    }
  }
  // Not looked at yet: told when it is.
  requested_unseen_.emplace(address, port);
}

void ConnectionGate::run() {
  become_serving_thread();
  std::unique_lock lock(mutex_);
  while (!wake_.wait_for(lock, kLookInterval, [this] { return stopping_; })) look();
}

void ConnectionGate::look() {
  const auto now = Clock::now();
  Sockets sockets;
  if (!read_descriptors(now, sockets)) return;
  last_look_ = now;
  std::map<std::string, int> open;
  for (auto& [inode, connection] : sockets.known) {
    if (!connection.closed && !connection.requested && now - connection.since > kRequestHeadTimeout) {
      answer_and_shut(inode, connection, kRequestTooSlow);
      connection.closed = true;
    }
    if (!connection.closed) ++open[connection.address];
  }
  for (auto& [inode, connection] : sockets.arrived) {
    connection.requested = requested_unseen_.contains({connection.address, connection.port});
    admit_or_refuse(sockets.known, open, inode, connection);
  }
  requested_unseen_.clear();
  connections_.swap(sockets.known);
  others_.swap(sockets.others);
}

// The sockets of the process as they are now: the connections known and
// those that arrived, and the others; false when they cannot be listed.
bool ConnectionGate::read_descriptors(Clock::time_point now, Sockets& sockets) {
  DIR* descriptors = opendir("/proc/self/fd");
  if (descriptors == nullptr) return false;
  while (const dirent* entry = readdir(descriptors)) {
    const int fd = std::atoi(entry->d_name);
    struct stat info {};
    if (entry->d_name[0] == '.' || fd == dirfd(descriptors) || fstat(fd, &info) != 0 || !S_ISSOCK(info.st_mode))
      continue;
    if (const auto known = connections_.find(info.st_ino); known != connections_.end()) {
      known->second.fd = fd;
      sockets.known.insert(*known);
    } else if (Connection connection; !others_.contains(info.st_ino) && inspect(fd, info.st_ino, connection)) {
      connection.since = now;
      sockets.arrived.emplace(info.st_ino, connection);
    } else {
      sockets.others.insert(info.st_ino);
    }
  }
  closedir(descriptors);
  return true;
}

void ConnectionGate::admit_or_refuse(Connections& connections, std::map<std::string, int>& open, ino_t inode,
                                     Connection connection) const {
  if (open[connection.address] >= kConnectionsPerAddress) {
    answer_and_shut(inode, connection, kTooManyConnections);
    connection.closed = true;
  } else {
    ++open[connection.address];
  }
  connections.emplace(inode, std::move(connection));
}

bool ConnectionGate::inspect(int fd, ino_t inode, Connection& connection) const {
  const int copy = fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (copy < 0) return false;
  struct stat info {};
  sockaddr_storage local{}, peer{};
  socklen_t local_size = sizeof local, peer_size = sizeof peer;
  int listening = 0;
  socklen_t listening_size = sizeof listening;
  std::string local_host;
  int local_port = 0;
  const bool ours = fstat(copy, &info) == 0 && info.st_ino == inode &&
                    getsockname(copy, reinterpret_cast<sockaddr*>(&local), &local_size) == 0 &&
                    host_and_port(local, local_host, local_port) && local_port == port_ &&
                    (wildcard(address_) || local_host == address_) &&
                    getsockopt(copy, SOL_SOCKET, SO_ACCEPTCONN, &listening, &listening_size) == 0 && !listening &&
                    getpeername(copy, reinterpret_cast<sockaddr*>(&peer), &peer_size) == 0 &&
                    host_and_port(peer, connection.address, connection.port);
  close(copy);
  connection.fd = fd;
  return ours;
}

// Answers on the socket, if `connection.fd` still holds it, and shuts it both
// ways: the worker reading from it finds its end at once.
void ConnectionGate::answer_and_shut(ino_t inode, const Connection& connection, const std::string& reply) {
  const int copy = fcntl(connection.fd, F_DUPFD_CLOEXEC, 0);
  if (copy < 0) return;
  struct stat info {};
  if (fstat(copy, &info) == 0 && info.st_ino == inode) {
    if (send(copy, reply.data(), reply.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0) {
      // The client is gone or not reading: shutting is all that is left.
    }
    shutdown(copy, SHUT_RDWR);
  }
  close(copy);
}

}  // namespace kivo::web
