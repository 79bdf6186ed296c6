#include "DiagnosticThrottle.h"

#include <algorithm>
#include <cctype>

#include "Diagnostics.h"

namespace kivo::eventio {

namespace {

constexpr const char* kOtherKinds = "other problems";

// `what` with every run of digits replaced by '#': "unknown record version #".
std::string pattern_of(const std::string& what) {
  std::string pattern;
  for (const char c : what) {
    const bool digit = std::isdigit(static_cast<unsigned char>(c)) != 0;
    if (!digit) pattern += c;
    else if (pattern.empty() || pattern.back() != '#') pattern += '#';
  }
  return pattern;
}

}  // namespace

DiagnosticThrottle::Kind& DiagnosticThrottle::kind_of(const std::string& what) {
  std::string pattern = pattern_of(what);
  for (int attempt = 0; attempt < 2; ++attempt) {
    const auto found =
        std::find_if(kinds_.begin(), kinds_.end(), [&](const Kind& k) { return k.pattern == pattern; });
    if (found != kinds_.end()) return *found;
    if (kinds_.size() < kMaxKinds) break;
    pattern = kOtherKinds;
  }
  Kind& kind = kinds_.emplace_back();
  kind.pattern = std::move(pattern);
  return kind;
}

void DiagnosticThrottle::report(std::uint64_t at, const std::string& what, Clock::time_point now) {
  tick(now);
  if (!window_open_) {
    window_open_ = true;
    window_start_ = now;
  }
  Kind& kind = kind_of(what);
  if (kind.shown < kShownPerKind) {
    ++kind.shown;
    report_diagnostic(source_ + ": offset " + std::to_string(at) + ": " + what);
    return;
  }
  if (kind.held++ == 0) kind.first_offset = at;
  kind.last_offset = at;
  kind.last = what;
}

void DiagnosticThrottle::tick(Clock::time_point now) {
  if (window_open_ && now - window_start_ >= kWindow) flush();
}

void DiagnosticThrottle::flush() {
  for (const Kind& kind : kinds_) {
    if (kind.held == 0) continue;
    report_diagnostic(source_ + ": offsets " + std::to_string(kind.first_offset) + " to " +
                      std::to_string(kind.last_offset) + ": " + std::to_string(kind.held) + " more like \"" +
                      kind.last + "\"");
  }
  kinds_.clear();
  window_open_ = false;
}

}  // namespace kivo::eventio
