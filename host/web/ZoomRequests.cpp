#include "ZoomRequests.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>

namespace kivo::web {

namespace {

// `left` refilled at `rate` a second since `at`, up to `most`; `at` becomes `now`.
using Clock = std::chrono::steady_clock;

void refill(double& left, Clock::time_point& at, Clock::time_point now, double rate, double most) {
  const std::chrono::duration<double> elapsed = now - at;
  left = std::min(most, left + std::max(0.0, elapsed.count()) * rate);
  at = now;
}

}  // namespace

ZoomRequests::ZoomRequests() : wake_fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

ZoomRequests::~ZoomRequests() {
  if (wake_fd_ >= 0) close(wake_fd_);
}

bool ZoomRequests::ask(const MapRegion& region, const std::string& client, Clock::time_point now) {
  std::lock_guard lock(mutex_);
  const auto found = std::find_if(asked_.begin(), asked_.end(), [&](const Asked& a) { return a.region == region; });
  if (found != asked_.end()) {
    found->at = now;
    return true;
  }
  if (!allow_new_region(client, now)) return false;
  if (asked_.size() >= kMaxRegions)
    asked_.erase(std::min_element(asked_.begin(), asked_.end(),
                                  [](const Asked& a, const Asked& b) { return a.at < b.at; }));
  asked_.push_back({region, now});
  new_.store(true, std::memory_order_relaxed);
  // While earlier regions wait for the budget, the event thread's wait ends
  // when it allows them: the new one is taken then.
  if (now.time_since_epoch().count() < affordable_at_.load(std::memory_order_relaxed)) return true;
  const std::uint64_t one = 1;
  if (wake_fd_ >= 0 && write(wake_fd_, &one, sizeof one) < 0) {
    // Already signalled (the counter is full): the event thread wakes anyway.
  }
  return true;
}

bool ZoomRequests::allow_new_region(const std::string& client, Clock::time_point now) {
  auto found = clients_.find(client);
  if (found == clients_.end()) {
    if (clients_.size() >= kMaxClients)
      clients_.erase(std::min_element(clients_.begin(), clients_.end(),
                                      [](const auto& a, const auto& b) { return a.second.at < b.second.at; }));
    found = clients_.emplace(client, Allowance{kNewRegionsBurst, now}).first;
  }
  Allowance& allowance = found->second;
  refill(allowance.left, allowance.at, now, kNewRegionsPerSecond, kNewRegionsBurst);
  if (allowance.left < 1) return false;
  allowance.left -= 1;
  return true;
}

bool ZoomRequests::spend_bins(long bins, Clock::time_point now) {
  refill(bins_left_, bins_at_, now, kBinsPerSecond, kBinsBurst);
  if (bins_left_ < double(bins)) return false;
  bins_left_ -= double(bins);
  return true;
}

bool ZoomRequests::new_regions(Clock::time_point now) const {
  return new_.load(std::memory_order_relaxed) &&
         now.time_since_epoch().count() >= affordable_at_.load(std::memory_order_relaxed);
}

int ZoomRequests::wait_ms(Clock::time_point now) const {
  if (!new_.load(std::memory_order_relaxed)) return -1;
  const Clock::duration left = Clock::duration(affordable_at_.load(std::memory_order_relaxed)) - now.time_since_epoch();
  return int(std::max<std::int64_t>(0, std::chrono::ceil<std::chrono::milliseconds>(left).count()));
}

ZoomRequests::Turn ZoomRequests::take_all(Clock::time_point now) { return take(false, now); }

std::vector<MapRegion> ZoomRequests::take_new(Clock::time_point now) { return take(true, now).copy; }

ZoomRequests::Turn ZoomRequests::take(bool only_new, Clock::time_point now) {
  std::lock_guard lock(mutex_);
  std::erase_if(asked_, [&](const Asked& a) { return now - a.at > kForgetAfter; });
  std::vector<Asked*> order;
  for (Asked& asked : asked_) order.push_back(&asked);
  std::stable_sort(order.begin(), order.end(), [](const Asked* a, const Asked* b) {
    return a->copied != b->copied ? !a->copied : a->copied_at < b->copied_at;
  });
  Turn turn;
  bool uncopied = false, affordable = true;
  Clock::time_point affordable_at = now;
  for (Asked* asked : order) {
    const bool due = !asked->copied || (!only_new && now - asked->copied_at >= kCopyAgainAfter);
    // Once one cannot be paid for, those behind it wait too: it goes first next time.
    if (affordable && due && !spend_bins(asked->region.bins(), now)) {
      affordable = false;
      affordable_at = now + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
                                (double(asked->region.bins()) - bins_left_) / kBinsPerSecond));
    }
    if (due && affordable) {
      turn.copy.push_back(asked->region);
      asked->copied = true;
      asked->copied_at = now;
    } else if (asked->copied) {
      turn.keep.push_back(asked->region);
    } else {
      uncopied = true;
    }
  }
  // Regions left over wait for the budget, not for the descriptor: an idle
  // loop would find it readable again and again.
  affordable_at_.store(affordable_at.time_since_epoch().count(), std::memory_order_relaxed);
  new_.store(uncopied, std::memory_order_relaxed);
  std::uint64_t count = 0;
  if (wake_fd_ >= 0 && read(wake_fd_, &count, sizeof count) < 0) {
    // Nothing signalled since the last take.
  }
  return turn;
}

}  // namespace kivo::web
