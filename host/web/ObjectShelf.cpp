#include "ObjectShelf.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>

#include "Gzip.h"
#include "RootJSON.h"
#include "TObject.h"

namespace kivo::web {

const std::string& ObjectShelf::Text::gzipped() const {
  std::call_once(gzip_once_, [this] { gzip_ = gzip(json); });
  return gzip_;
}

ObjectShelf::ObjectShelf()
    : wake_fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)), listing_(std::make_shared<const std::vector<ShelfEntry>>()) {}

ObjectShelf::~ObjectShelf() {
  if (wake_fd_ >= 0) close(wake_fd_);
}

void ObjectShelf::list(std::vector<ShelfEntry> entries) {
  auto next = std::make_shared<const std::vector<ShelfEntry>>(std::move(entries));
  std::lock_guard lock(mutex_);
  listing_.swap(next);
}

std::shared_ptr<const std::vector<ShelfEntry>> ObjectShelf::listing() const {
  std::lock_guard lock(mutex_);
  return listing_;
}

long ObjectShelf::cells_of(const std::string& path) const {
  for (const ShelfEntry& entry : *listing_)
    if (entry.path == path) return std::max(1L, entry.cells);
  return -1;
}

void ObjectShelf::wake() {
  waiting_.store(true, std::memory_order_relaxed);
  // While others wait for the budget, the event thread's wait ends when it allows them.
  if (Clock::now().time_since_epoch().count() < affordable_at_.load(std::memory_order_relaxed)) return;
  const std::uint64_t one = 1;
  if (wake_fd_ >= 0 && write(wake_fd_, &one, sizeof one) < 0) {
    // Already signalled (the counter is full): the event thread wakes anyway.
  }
}

std::shared_ptr<const ObjectShelf::Text> ObjectShelf::json(const std::string& path, std::chrono::milliseconds wait,
                                                           Clock::time_point now) {
  std::shared_ptr<Copy> copy;
  {
    std::unique_lock lock(mutex_);
    if (cells_of(path) < 0) return nullptr;
    auto found = asked_.find(path);
    if (found == asked_.end()) {
      if (asked_.size() >= kMaxAsked)
        asked_.erase(std::min_element(asked_.begin(), asked_.end(),
                                      [](const auto& a, const auto& b) { return a.second.at < b.second.at; }));
      found = asked_.emplace(path, Asked{}).first;
    }
    found->second.at = now;
    wake();
    copied_.wait_until(lock, now + wait, [&] {
      const auto entry = asked_.find(path);
      return entry == asked_.end() || entry->second.fresh_at >= now;
    });
    const auto entry = asked_.find(path);
    if (entry != asked_.end()) copy = entry->second.copy;
  }
  if (!copy || !copy->object) return nullptr;
  std::lock_guard text_lock(copy->text_mutex);
  if (!copy->text) {
    auto text = std::make_shared<Text>();
    text->json = rootcompat::ToJSON(*copy->object);
    copy->text = std::move(text);
  }
  return copy->text;
}

bool ObjectShelf::spend(long cells, Clock::time_point now) {
  const std::chrono::duration<double> elapsed = now - cells_at_;
  cells_left_ = std::min(kCellsBurst, cells_left_ + std::max(0.0, elapsed.count()) * kCellsPerSecond);
  cells_at_ = now;
  // An object larger than the burst is paid for once the budget is full.
  const double price = std::min(double(cells), kCellsBurst);
  if (cells_left_ < price) return false;
  cells_left_ -= price;
  return true;
}

bool ObjectShelf::wanted(Clock::time_point now) const {
  return waiting_.load(std::memory_order_relaxed) &&
         now.time_since_epoch().count() >= affordable_at_.load(std::memory_order_relaxed);
}

int ObjectShelf::wait_ms(Clock::time_point now) const {
  if (!waiting_.load(std::memory_order_relaxed)) return -1;
  const Clock::duration left = Clock::duration(affordable_at_.load(std::memory_order_relaxed)) - now.time_since_epoch();
  return int(std::max<std::int64_t>(0, std::chrono::ceil<std::chrono::milliseconds>(left).count()));
}

std::vector<std::string> ObjectShelf::take(long version, Clock::time_point now) {
  std::vector<std::string> paths;
  std::lock_guard lock(mutex_);
  for (auto it = asked_.begin(); it != asked_.end();) {
    if (now - it->second.at > kForgetAfter) {
      if (it->second.copy) retired_.push_back(std::move(it->second.copy));
      it = asked_.erase(it);
    } else {
      ++it;
    }
  }
  bool left_waiting = false, affordable = true, found_fresh = false;
  Clock::time_point affordable_at = now;
  for (auto& [path, asked] : asked_) {
    if (asked.taken || asked.fresh_at >= asked.at) continue;
    if (asked.copy && asked.copy->version == version) {
      asked.fresh_at = now;  // nothing changed since its copy
      found_fresh = true;
      continue;
    }
    if (asked.copy && now - asked.copied_at < kCopyAgainAfter) {
      left_waiting = true;
      affordable_at = std::max(affordable_at, asked.copied_at + kCopyAgainAfter);
      continue;
    }
    const long cells = std::max(1L, cells_of(path));
    // Once one cannot be paid for, those behind it wait too.
    if (affordable && !spend(cells, now)) {
      affordable = false;
      affordable_at = std::max(affordable_at, now + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
                                                        (std::min(double(cells), kCellsBurst) - cells_left_) / kCellsPerSecond)));
    }
    if (!affordable) {
      left_waiting = true;
      continue;
    }
    asked.taken = true;
    paths.push_back(path);
  }
  affordable_at_.store(affordable_at.time_since_epoch().count(), std::memory_order_relaxed);
  waiting_.store(left_waiting, std::memory_order_relaxed);
  std::uint64_t count = 0;
  if (wake_fd_ >= 0 && read(wake_fd_, &count, sizeof count) < 0) {
    // Nothing signalled since the last take.
  }
  if (found_fresh) copied_.notify_all();
  return paths;
}

void ObjectShelf::put(std::vector<std::pair<std::string, std::unique_ptr<TObject>>> copies, long version,
                      Clock::time_point now) {
  std::vector<std::shared_ptr<Copy>> freed;
  {
    std::lock_guard lock(mutex_);
    for (auto& [path, object] : copies) {
      auto found = asked_.find(path);
      if (found == asked_.end()) continue;  // freed with `copies`
      Asked& asked = found->second;
      if (asked.copy) retired_.push_back(std::move(asked.copy));
      asked.copy = std::make_shared<Copy>();
      asked.copy->object = std::shared_ptr<const TObject>(std::move(object));
      asked.copy->version = version;
      asked.taken = false;
      asked.fresh_at = asked.copied_at = now;
    }
    // A copy a server thread still serialises stays until a later call.
    auto in_use = std::partition(retired_.begin(), retired_.end(),
                                 [](const std::shared_ptr<Copy>& c) { return c.use_count() > 1; });
    freed.assign(std::make_move_iterator(in_use), std::make_move_iterator(retired_.end()));
    retired_.erase(in_use, retired_.end());
  }
  copied_.notify_all();
}

}  // namespace kivo::web
