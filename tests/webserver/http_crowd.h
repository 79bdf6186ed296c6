#ifndef KIVO_TESTS_WEBSERVER_HTTP_CROWD_H
#define KIVO_TESTS_WEBSERVER_HTTP_CROWD_H

#include <atomic>
#include <string>
#include <thread>

// Clients of one loopback address that ask for the same target over and
// over, `count` at once, each request on a connection of its own, from one
// thread of their own until stopped.
class HttpCrowd {
 public:
  struct Tally {
    long answered = 0;  // 200
    long refused = 0;   // 503
    long other = 0;     // any other end, a connection refused or reset included
  };

  HttpCrowd(int port, int count, std::string target, std::string from);
  ~HttpCrowd();
  HttpCrowd(const HttpCrowd&) = delete;
  HttpCrowd& operator=(const HttpCrowd&) = delete;

  // Stops the crowd and tells how its requests ended.
  Tally stop();

 private:
  void run(int port, int count);

  const std::string request_;
  const std::string from_;
  std::atomic<bool> stop_{false};
  Tally tally_;
  std::thread thread_;
};

// A connection to 127.0.0.1:`port` from the loopback address `from`
// (127.0.0.2 and so on stand for other clients); -1 on failure.
int connect_from(const std::string& from, int port, bool blocking = true);

#endif
