#ifndef KIVO_HOST_WEB_ZOOM_REQUESTS_H
#define KIVO_HOST_WEB_ZOOM_REQUESTS_H

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "LiveFrame.h"

namespace kivo::web {

// The hit-map regions pages are zoomed into. Server threads tell which
// regions a page asks for; the event-processing thread copies them at canvas
// updates, and the new ones as soon as it can: a new region raises
// new_regions() and wakes the descriptor it polls.
//
// What a client can make the event thread do is bounded: a region asked for
// by several pages is one region; one client address may add only a few new
// regions a second; a region is copied again at most once a second; and the
// bins copied a second are limited in all, a region whose turn has not come
// keeping its last copy.
class ZoomRequests {
 public:
  using Clock = std::chrono::steady_clock;
  // A region nobody has asked for this long is no longer copied.
  static constexpr std::chrono::seconds kForgetAfter{10};
  // At most this many regions are kept, the most recently asked for.
  static constexpr std::size_t kMaxRegions = 8;
  // New regions one client address may add: a burst, then a rate.
  static constexpr double kNewRegionsBurst = 8;
  static constexpr double kNewRegionsPerSecond = 4;
  // Client addresses remembered for their rate; the least recently seen goes.
  static constexpr std::size_t kMaxClients = 64;
  // A region copied is copied again no sooner than this.
  static constexpr std::chrono::milliseconds kCopyAgainAfter{1000};
  // Bins copied on the event thread: a burst (the largest region), then a
  // rate (the four maps' chips, one each, every second).
  static constexpr double kBinsBurst = 1 << 20;
  static constexpr double kBinsPerSecond = 2.0 * (1 << 20);

  // The regions of one copy: those to copy now, and those asked for whose
  // last copy stays until their turn comes.
  struct Turn {
    std::vector<MapRegion> copy;
    std::vector<MapRegion> keep;
  };

  ZoomRequests();
  ~ZoomRequests();
  ZoomRequests(const ZoomRequests&) = delete;
  ZoomRequests& operator=(const ZoomRequests&) = delete;

  // Server thread: a page of `client` (its address) asks for `region` now.
  // False when the region is not taken: `client` has added its share of new
  // regions for now.
  bool ask(const MapRegion& region, const std::string& client, Clock::time_point now = Clock::now());
  // Event thread: whether a region was asked for that has not been copied
  // and the bins budget can pay for it now.
  bool new_regions(Clock::time_point now = Clock::now()) const;
  // Event thread: how long an idle wait may last before new_regions() holds;
  // -1 while no region waits.
  int wait_ms(Clock::time_point now = Clock::now()) const;
  // Event thread, at a canvas update: the regions asked for in the last
  // kForgetAfter, those never copied first, then those copied longest ago.
  Turn take_all(Clock::time_point now = Clock::now());
  // Event thread, between updates: regions never copied.
  std::vector<MapRegion> take_new(Clock::time_point now = Clock::now());
  // Readable from a new region's ask() to the next take; -1 when no eventfd
  // could be made.
  int wake_fd() const { return wake_fd_; }

 private:
  struct Asked {
    MapRegion region;
    Clock::time_point at;
    bool copied = false;
    Clock::time_point copied_at{};
  };
  // A client's allowance of new regions.
  struct Allowance {
    double left = kNewRegionsBurst;
    Clock::time_point at;
  };
  Turn take(bool only_new, Clock::time_point now);
  bool allow_new_region(const std::string& client, Clock::time_point now);
  // Whether the bins budget has room for `bins` now; takes them when so.
  bool spend_bins(long bins, Clock::time_point now);

  const int wake_fd_;
  std::mutex mutex_;
  std::vector<Asked> asked_;
  std::map<std::string, Allowance> clients_;
  double bins_left_ = kBinsBurst;
  Clock::time_point bins_at_{};
  std::atomic<bool> new_{false};
  // When the budget pays for the first region waiting, since the clock's epoch.
  std::atomic<Clock::rep> affordable_at_{0};
};

}  // namespace kivo::web

#endif
