// Writes the registry beside event processing: every run the archive has
// written, and every judgement given at the prompt, goes first to the
// pending queue on disk (PendingQueue.h) and then, on the writer's own
// thread, into the database, one transaction each, oldest first. A database
// that is locked, unreachable or full never holds anything up: the rows wait
// on disk and are tried again every few seconds and whenever a new row
// comes; kivo says once that they wait, and once that they are written. What
// still waits when kivo ends stays on disk for the next kivo with the same
// archive.
#ifndef KIVO_HOST_REGISTRY_REGISTRY_WRITER_H
#define KIVO_HOST_REGISTRY_REGISTRY_WRITER_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Database.h"
#include "PendingQueue.h"
#include "RegistryStore.h"
#include "RegistryUrl.h"
#include "RunRecord.h"

namespace kivo::registry {

class RegistryWriter {
 public:
  using Report = std::function<void(const std::string&)>;
  using Clock = std::chrono::steady_clock;
  // How long a failed write waits before the next try.
  static constexpr std::chrono::seconds kRetryInterval{2};
  // How long a locked SQLite file is waited for in one try.
  static constexpr int kBusyMs = 2000;

  // Starts the writer thread, which first writes what an earlier kivo left
  // waiting in `queue_directory`. `unavailable`: why the registry could not
  // be written when kivo started, told now as any later failure would be.
  RegistryWriter(RegistryUrl url, std::string queue_directory, Report report, const std::string& unavailable = {});
  ~RegistryWriter();
  RegistryWriter(const RegistryWriter&) = delete;
  RegistryWriter& operator=(const RegistryWriter&) = delete;

  // A run whose file is written (or could not be): put on disk in the
  // caller's thread, written to the database on the writer's.
  void record(const RunRecord& record);
  // A judgement given at the prompt: put on disk and written on the writer's
  // thread; what became of it is told on standard error.
  void certify(CertificationRequest request);
  // Rows waiting for the database (runs and judgements); from any thread.
  std::size_t pending() const { return pending_.load(); }
  // Rows written to the database since start; from any thread.
  std::size_t written() const { return written_.load(); }
  // At exit: writes what waits, trying the database once more, for
  // `patience` at most, and stops the thread; says what stays on disk.
  void finish(std::chrono::milliseconds patience);
  // What sources() shows: where, what waits, the last problem.
  std::vector<std::string> describe() const;
  const RegistryUrl& url() const { return url_; }

 private:
  void run_thread();
  // Puts the judgements given since on disk.
  void persist_inbox();
  // Writes the queue's rows in order until it is empty or one fails; false
  // when the database failed.
  bool write_queue();
  // Writes one row; false (with `failure`) when the database failed for now.
  bool write_entry(const PendingQueue::Entry& entry, std::string& failure);
  void write_certification(const std::string& body);
  Database& database();
  void note_down(const std::string& reason);
  void note_up();
  void count_pending();

  const RegistryUrl url_;
  PendingQueue queue_;
  const Report report_;
  std::unique_ptr<Database> database_;  // the writer thread's; null until connected

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<CertificationRequest> inbox_;
  bool wake_ = false;
  bool flushing_ = false;    // finish() waits for one more pass
  bool flushed_ = false;     // that pass is over
  bool stopping_ = false;
  bool down_ = false;        // told that rows wait
  bool told_full_ = false;   // told that the queue is full
  std::size_t waited_ = 0;   // rows written since the database came back
  std::string last_problem_;
  std::atomic<std::size_t> pending_{0};
  std::atomic<std::size_t> written_{0};
  std::thread thread_;
};

// Now, as a record's time: "2024-05-01T03:12:45Z".
std::string utc_now();
// A new random token for a judgement.
std::string new_token();

}  // namespace kivo::registry

#endif
