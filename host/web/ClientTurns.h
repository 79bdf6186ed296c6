// The answers one client address gets: at most kAtOnce at a time, and
// kPerSecond a second after a burst. A request beyond either waits for its
// turn, asleep, and is refused when the turn does not come within
// kLongestWait; beyond kHeldAtMost requests held, one is refused after a
// short pause. A client that asks again as soon as it is answered is thus
// slowed down rather than answered or refused at once and back at once: a
// crowd of one address costs the server a bounded amount of work a second.
#ifndef KIVO_HOST_WEB_CLIENT_TURNS_H
#define KIVO_HOST_WEB_CLIENT_TURNS_H

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <unordered_map>

namespace kivo::web {

class ClientTurns {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr int kAtOnce = 16;
  // Requests of one address answered or waiting: its share of the workers.
  static constexpr int kHeldAtMost = 32;
  // A page asks a few times a second, and for some hundred files when it
  // loads; a proxy in front of kivo asks for all its users.
  static constexpr double kPerSecond = 200;
  static constexpr double kBurst = 400;
  static constexpr std::chrono::milliseconds kLongestWait{1000};
  static constexpr std::chrono::milliseconds kRefusalPause{100};
  // Addresses remembered beyond those being answered, for their rate.
  static constexpr std::size_t kMaxAddresses = 4096;

  // Waits until `address` may be answered; false when it may not (the
  // caller refuses the request).
  bool enter(const std::string& address);
  // An answer to `address` is done.
  void leave(const std::string& address);

 private:
  struct Client {
    int answering = 0;
    int waiting = 0;
    Clock::time_point next_turn{};  // of the request after the last one let in
  };
  Client& client(const std::string& address, Clock::time_point now);

  std::mutex mutex_;
  std::condition_variable freed_;
  std::unordered_map<std::string, Client> clients_;
};

}  // namespace kivo::web

#endif
