// Keeps the problems of one source readable when they come by the thousand:
// of each kind of problem (its text with the numbers left out) the first few
// of a minute are reported as they come, the others are counted and told in
// one line per kind when that minute is over, so that a megabyte of damage
// costs a handful of lines instead of a quarter of a million.
#ifndef KIVO_EVENTIO_DIAGNOSTIC_THROTTLE_H
#define KIVO_EVENTIO_DIAGNOSTIC_THROTTLE_H

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace kivo::eventio {

class DiagnosticThrottle {
 public:
  using Clock = std::chrono::steady_clock;
  // Problems of one kind reported as they come, per minute.
  static constexpr int kShownPerKind = 3;
  static constexpr std::chrono::seconds kWindow{60};
  // Kinds told apart within a minute; further ones are counted together.
  static constexpr std::size_t kMaxKinds = 16;

  explicit DiagnosticThrottle(std::string source) : source_(std::move(source)) {}
  // Tells what was held back.
  ~DiagnosticThrottle() { flush(); }
  DiagnosticThrottle(const DiagnosticThrottle&) = delete;
  DiagnosticThrottle& operator=(const DiagnosticThrottle&) = delete;

  // A problem at stream offset `at`: "<source>: offset <at>: <what>", or
  // counted when its kind has had its share of the minute.
  void report(std::uint64_t at, const std::string& what, Clock::time_point now = Clock::now());
  // Tells what was held back once its minute is over.
  void tick(Clock::time_point now = Clock::now());
  // Tells what was held back now.
  void flush();

 private:
  struct Kind {
    std::string pattern;  // the text with its numbers left out
    int shown = 0;
    std::uint64_t held = 0;
    std::uint64_t first_offset = 0, last_offset = 0;
    std::string last;  // the text of the last one held back
  };
  Kind& kind_of(const std::string& what);

  std::string source_;
  Clock::time_point window_start_{};
  bool window_open_ = false;
  std::vector<Kind> kinds_;
};

}  // namespace kivo::eventio

#endif
