#include "EventRate.h"

namespace kivo::host {

namespace {

constexpr std::chrono::milliseconds kSpacing(250);
constexpr std::chrono::seconds kWindow(5);

}  // namespace

void EventRate::count(std::uint64_t total, Clock::time_point now) {
  latest_ = {now, total};
  if (samples_.empty() || now - samples_.back().time >= kSpacing) samples_.push_back(latest_);
  while (samples_.size() > 2 && now - samples_[1].time > kWindow) samples_.pop_front();
}

std::optional<double> EventRate::rate(Clock::time_point now) const {
  if (samples_.empty()) return std::nullopt;
  if (now - latest_.time > kWindow) return 0.0;
  const Sample* base = &samples_.front();
  for (const Sample& sample : samples_)
    if (now - sample.time >= kWindow) base = &sample;
  const std::chrono::duration<double> elapsed = now - base->time;
  if (elapsed.count() <= 0) return std::nullopt;
  return static_cast<double>(latest_.total - base->total) / elapsed.count();
}

}  // namespace kivo::host
