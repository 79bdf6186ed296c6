#include "ZoomRequests.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>

namespace kivo::web {

ZoomRequests::ZoomRequests() : wake_fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

ZoomRequests::~ZoomRequests() {
  if (wake_fd_ >= 0) close(wake_fd_);
}

void ZoomRequests::ask(const MapRegion& region) {
  const auto now = std::chrono::steady_clock::now();
  std::lock_guard lock(mutex_);
  const auto found = std::find_if(asked_.begin(), asked_.end(), [&](const Asked& a) { return a.region == region; });
  if (found != asked_.end()) {
    found->at = now;
    return;
  }
  if (asked_.size() >= kMaxRegions)
    asked_.erase(std::min_element(asked_.begin(), asked_.end(),
                                  [](const Asked& a, const Asked& b) { return a.at < b.at; }));
  asked_.push_back({region, now, false});
  new_.store(true, std::memory_order_relaxed);
  const std::uint64_t one = 1;
  if (wake_fd_ >= 0 && write(wake_fd_, &one, sizeof one) < 0) {
    // Already signalled (the counter is full): the event thread wakes anyway.
  }
}

std::vector<MapRegion> ZoomRequests::take_all() { return take(false); }

std::vector<MapRegion> ZoomRequests::take_new() { return take(true); }

std::vector<MapRegion> ZoomRequests::take(bool only_new) {
  const auto now = std::chrono::steady_clock::now();
  std::lock_guard lock(mutex_);
  std::erase_if(asked_, [&](const Asked& a) { return now - a.at > kForgetAfter; });
  std::vector<MapRegion> regions;
  for (Asked& asked : asked_) {
    if (!only_new || !asked.copied) regions.push_back(asked.region);
    asked.copied = true;
  }
  new_.store(false, std::memory_order_relaxed);
  std::uint64_t count = 0;
  if (wake_fd_ >= 0 && read(wake_fd_, &count, sizeof count) < 0) {
    // Nothing signalled since the last take.
  }
  return regions;
}

}  // namespace kivo::web
