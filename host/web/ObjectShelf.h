#ifndef KIVO_HOST_WEB_OBJECT_SHELF_H
#define KIVO_HOST_WEB_OBJECT_SHELF_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

class TObject;

namespace kivo::web {

// One object the monitor has, as the ROOT web protocol lists it: a path
// ("h2d_chip_2", "Quality/quality_overall"), its class and title, and how
// many values copying it costs.
struct ShelfEntry {
  std::string path;
  std::string class_name;
  std::string title;
  long cells = 1;
};

// The monitor's objects served one at a time, in ROOT JSON, to any JSROOT
// (/ITEM/root.json). Server threads ask for an object by its path; the
// event thread copies the objects asked for when it next serves the
// display and hands the copies over; a server thread serialises a copy once,
// the text shared by every request for it, and never touches the monitor's
// own objects.
//
// What clients can make the event thread do is bounded as for zoomed
// regions: an object is copied again at most once a second, not at all when
// nothing changed since its last copy, only while asked for in the last ten
// seconds, and the values copied a second are limited in all (a full hit map
// is about 4.7 million), an object whose turn has not come keeping its last copy.
class ObjectShelf {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::seconds kForgetAfter{10};
  static constexpr std::chrono::milliseconds kCopyAgainAfter{1000};
  static constexpr std::size_t kMaxAsked = 32;
  // Two full hit maps a second, one at once.
  static constexpr double kCellsBurst = 5e6;
  static constexpr double kCellsPerSecond = 1e7;

  // A copy serialised; its gzip form made once, when first asked for.
  struct Text {
    std::string json;
    const std::string& gzipped() const;

   private:
    mutable std::once_flag gzip_once_;
    mutable std::string gzip_;
  };

  ObjectShelf();
  ~ObjectShelf();
  ObjectShelf(const ObjectShelf&) = delete;
  ObjectShelf& operator=(const ObjectShelf&) = delete;

  // Event thread: the objects there are now.
  void list(std::vector<ShelfEntry> entries);
  // Any thread: the objects as last listed.
  std::shared_ptr<const std::vector<ShelfEntry>> listing() const;

  // Server thread: the JSON of the object at `path`, copied after this call
  // or found unchanged since its last copy, waiting up to `wait`; failing
  // that, the last copy there is; null when the path is not listed or no copy
  // came in time.
  std::shared_ptr<const Text> json(const std::string& path, std::chrono::milliseconds wait,
                                   Clock::time_point now = Clock::now());

  // Event thread: whether an object asked for waits for a copy the budget can pay for now.
  bool wanted(Clock::time_point now = Clock::now()) const;
  // Event thread: how long an idle wait may last before wanted() holds; -1 while none waits.
  int wait_ms(Clock::time_point now = Clock::now()) const;
  // Event thread: the paths to copy now, the monitor's objects being at
  // `version` (which changes with every event and command). Objects
  // unchanged since their last copy count as fresh.
  std::vector<std::string> take(long version, Clock::time_point now = Clock::now());
  // Event thread: the copies of paths taken (null for an object gone) at
  // `version`. Frees the copies replaced since the last call.
  void put(std::vector<std::pair<std::string, std::unique_ptr<TObject>>> copies, long version,
           Clock::time_point now = Clock::now());
  // Readable from a new request to the next take; -1 when no eventfd could be made.
  int wake_fd() const { return wake_fd_; }

 private:
  struct Copy {
    std::shared_ptr<const TObject> object;
    long version = 0;
    std::mutex text_mutex;  // one serialisation per copy
    std::shared_ptr<const Text> text;
  };
  struct Asked {
    Clock::time_point at;           // last asked
    Clock::time_point fresh_at{};   // copied, or found unchanged, at
    Clock::time_point copied_at{};
    bool taken = false;             // handed to the event thread, copy not back yet
    std::shared_ptr<Copy> copy;
  };
  bool spend(long cells, Clock::time_point now);
  long cells_of(const std::string& path) const;
  void wake();

  const int wake_fd_;
  mutable std::mutex mutex_;
  std::condition_variable copied_;
  std::shared_ptr<const std::vector<ShelfEntry>> listing_;
  std::map<std::string, Asked> asked_;
  // Copies replaced or forgotten, freed on the event thread once no server
  // thread serialises them any more.
  std::vector<std::shared_ptr<Copy>> retired_;
  double cells_left_ = kCellsBurst;
  Clock::time_point cells_at_{};
  std::atomic<bool> waiting_{false};
  std::atomic<Clock::rep> affordable_at_{0};
};

}  // namespace kivo::web

#endif
