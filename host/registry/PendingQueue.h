// The registry's rows that wait on disk until the database takes them:
// one file each in a directory beside the archive (DIR/registry-pending),
// written whole or not at all and reaching the disk before they count, taken
// in the order they came, bounded in number. A row the database refuses for
// good goes to its refused/ folder, kept for an operator to look at.
#ifndef KIVO_HOST_REGISTRY_PENDING_QUEUE_H
#define KIVO_HOST_REGISTRY_PENDING_QUEUE_H

#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

namespace kivo::registry {

class PendingQueue {
 public:
  // Rows waiting at most: a month of runs, a few tens of megabytes.
  static constexpr std::size_t kMaxRows = 1000;

  struct Entry {
    std::string name;  // the file's name in the directory
    std::string kind;  // "run" or "certification"
  };

  // Removes the temporaries a kivo that ended while writing left there.
  explicit PendingQueue(std::string directory, std::size_t max_rows = kMaxRows);

  const std::string& directory() const { return directory_; }
  // Writes one row; false with `error` when kMaxRows wait or it cannot be written.
  bool push(const std::string& kind, const std::string& body, std::string& error);
  // The rows waiting, oldest first.
  std::vector<Entry> list() const;
  // The row's text; false with `error` when it cannot be read.
  bool read(const Entry& entry, std::string& body, std::string& error) const;
  // The row has been written: gone from the queue.
  void remove(const Entry& entry);
  // The database refuses the row for good: moved to refused/; where to.
  std::string set_aside(const Entry& entry);
  // Removes the directory when nothing is left in it.
  void tidy();

 private:
  std::string directory_;
  std::size_t max_rows_;
  std::atomic<unsigned> counter_{0};
  std::mutex directory_mutex_;  // a row written while the empty directory is removed
};

}  // namespace kivo::registry

#endif
