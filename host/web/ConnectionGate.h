// Keeps slow or numerous clients of one address from holding the display's
// workers. civetweb gives a connection a worker as soon as it is accepted,
// before anything is read, and has no way to refuse it there; so the gate
// looks at the server's connected sockets themselves, among this process's
// descriptors: when a worker takes up a connection and every quarter of a
// second, the connections of an address beyond its share are answered 503 and
// shut, and those that have not sent their request head in time are answered
// 408 and shut; the worker holding one then finds it ended at once. A socket
// is acted on only through a duplicate checked to be that very socket, so a
// descriptor closed and reused meanwhile is never touched.
#ifndef KIVO_HOST_WEB_CONNECTION_GATE_H
#define KIVO_HOST_WEB_CONNECTION_GATE_H

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>

namespace kivo::web {

class ConnectionGate {
 public:
  // Connections of one client address open at once.
  static constexpr int kConnectionsPerAddress = 32;
  // Time a connection has to send the head of its first request.
  static constexpr std::chrono::milliseconds kRequestHeadTimeout{2000};
  static constexpr std::chrono::milliseconds kLookInterval{250};
  // A crowd of connections is looked at no more often than this: a look
  // costs a system call per descriptor of the process.
  static constexpr std::chrono::milliseconds kLookAtMostEvery{10};

  ConnectionGate() = default;
  ~ConnectionGate();
  ConnectionGate(const ConnectionGate&) = delete;
  ConnectionGate& operator=(const ConnectionGate&) = delete;

  // Starts looking after the sockets connected to `port` of `address` (any
  // address of this machine for a wildcard one).
  void start(const std::string& address, int port);
  // A worker takes up a new connection: the gate looks at once, unless it
  // has just looked.
  void connection_taken();
  // The head of a request on the connection from `address`:`port` has come.
  void request_read(const std::string& address, int port);

 private:
  using Clock = std::chrono::steady_clock;
  struct Connection {
    int fd = -1;  // as last seen; acted on only through a checked duplicate
    std::string address;
    int port = 0;
    Clock::time_point since;
    bool requested = false;
    bool closed = false;  // answered and shut by the gate
  };
  using Connections = std::map<ino_t, Connection>;
  struct Sockets {
    Connections known, arrived;
    std::set<ino_t> others;
  };

  void run();
  // Looks at every socket of the process; under mutex_.
  void look();
  bool read_descriptors(Clock::time_point now, Sockets& sockets);
  // The connection to this server that `fd` holds, if it is one.
  bool inspect(int fd, ino_t inode, Connection& connection) const;
  void admit_or_refuse(Connections& connections, std::map<std::string, int>& open, ino_t inode,
                       Connection connection) const;
  static void answer_and_shut(ino_t inode, const Connection& connection, const std::string& reply);

  std::string address_;
  int port_ = 0;
  std::mutex mutex_;
  Connections connections_;
  std::set<ino_t> others_;  // sockets that are not connections to this server
  std::set<std::pair<std::string, int>> requested_unseen_;  // requests read before their look
  Clock::time_point last_look_{};
  std::condition_variable wake_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace kivo::web

#endif
