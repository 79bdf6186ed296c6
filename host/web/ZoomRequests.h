#ifndef KIVO_HOST_WEB_ZOOM_REQUESTS_H
#define KIVO_HOST_WEB_ZOOM_REQUESTS_H

#include <atomic>
#include <chrono>
#include <mutex>
#include <vector>

#include "LiveFrame.h"

namespace kivo::web {

// The hit-map regions pages are zoomed into. Server threads tell which
// regions a page asks for; the event-processing thread copies the regions
// still asked for at each canvas update, and the new ones as soon as it can:
// a new region raises new_regions() and wakes the descriptor it polls.
class ZoomRequests {
 public:
  // A region nobody has asked for this long is no longer copied.
  static constexpr std::chrono::seconds kForgetAfter{10};
  // At most this many regions are kept, the most recently asked for.
  static constexpr std::size_t kMaxRegions = 8;

  ZoomRequests();
  ~ZoomRequests();
  ZoomRequests(const ZoomRequests&) = delete;
  ZoomRequests& operator=(const ZoomRequests&) = delete;

  // Server thread: a page asks for `region` now.
  void ask(const MapRegion& region);
  // Event thread: whether a region was asked for that has not been copied.
  bool new_regions() const { return new_.load(std::memory_order_relaxed); }
  // Event thread: the regions asked for in the last kForgetAfter (all of
  // them count as copied from now on), or only those not yet copied.
  std::vector<MapRegion> take_all();
  std::vector<MapRegion> take_new();
  // Readable while new_regions() is true; -1 when no eventfd could be made.
  int wake_fd() const { return wake_fd_; }

 private:
  struct Asked {
    MapRegion region;
    std::chrono::steady_clock::time_point at;
    bool copied = false;
  };
  std::vector<MapRegion> take(bool only_new);

  const int wake_fd_;
  std::mutex mutex_;
  std::vector<Asked> asked_;
  std::atomic<bool> new_{false};
};

}  // namespace kivo::web

#endif
