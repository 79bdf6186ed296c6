// HTTP digest authentication as RFC 7616 sets it out, for the MD5 entries of
// an htdigest file (read at each request, so users can be added while kivo
// runs). The server hands out nonces of its own and remembers each for a few
// minutes; a request is let in when its answer is right for its own method and
// request target (the uri must be the target requested), with qop=auth, a
// nonce handed out and not expired, and a nonce count not used before with
// that nonce. Counts may come somewhat out of order, as a browser's parallel
// requests do, but each is taken once. A right answer with an expired,
// forgotten or used-up nonce is told stale=true: the browser asks again with
// a new nonce, without asking the user.
#ifndef KIVO_HOST_WEB_DIGEST_AUTH_H
#define KIVO_HOST_WEB_DIGEST_AUTH_H

#include <bitset>
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <random>
#include <string>
#include <string_view>
#include <unordered_map>

struct mg_connection;

namespace kivo::web {

class DigestAuth {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::minutes kNonceLifetime{5};
  // Nonces remembered at once; the oldest is forgotten first.
  static constexpr std::size_t kMaxNonces = 4096;
  // How far below the highest count of a nonce a count may still come.
  static constexpr std::uint32_t kCountWindow = 64;

  enum class Verdict { granted, refused, stale };

  DigestAuth(std::string password_file, std::string realm);

  // Lets the request on `connection` in, or answers it 401 with a challenge.
  bool admit(mg_connection* connection);

  // The verdict on an Authorization header (null: none) for a request of
  // `method` for `path` (as civetweb decodes it) and `query` (as sent, null
  // when none).
  Verdict check(const char* authorization, std::string_view method, std::string_view path, const char* query,
                Clock::time_point now = Clock::now());
  // The user an Authorization header names, empty when none: the user of a
  // request admit() let in.
  static std::string user_of(const char* authorization);
  // The WWW-Authenticate value of a challenge with a new nonce.
  std::string challenge(bool stale, Clock::time_point now = Clock::now());

 private:
  struct Nonce {
    Clock::time_point issued;
    std::uint32_t highest = 0;  // highest count taken
    std::bitset<kCountWindow> taken;  // bit k: count highest - k taken
  };
  // Takes count `nc` of `nonce`; false when the nonce is unknown or expired,
  // or the count was taken or is too old.
  bool take_count(const std::string& nonce, std::uint32_t nc, Clock::time_point now);
  void forget_expired(Clock::time_point now);
  // The HA1 of `user` in the password file, empty when there is none.
  std::string ha1_of(const std::string& user) const;

  const std::string password_file_;
  const std::string realm_;
  std::mutex mutex_;
  std::random_device random_;
  std::unordered_map<std::string, Nonce> nonces_;
  std::deque<std::pair<std::string, Clock::time_point>> issued_;  // in the order handed out
};

}  // namespace kivo::web

#endif
