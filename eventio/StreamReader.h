// Reads events of the stream format from a regular file, a file that is still
// being written (follow), or standard input ("-"). next() never blocks: pipes
// are read without waiting, and a followed file simply has no event yet until a
// complete record has arrived. A record that waits for bytes while a valid
// record already follows inside the length it claims is damaged and skipped;
// one still waited for after a few seconds is named once. A followed file cut
// back to where its last record taken ends (or beyond) is read on from there;
// one cut back further, or replaced, is read again from its start. A followed
// file deleted (or moved away) is said once: what its writer still adds is
// read, and a new file of that name from its start.
#ifndef KIVO_EVENTIO_STREAM_READER_H
#define KIVO_EVENTIO_STREAM_READER_H

#include <sys/types.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "Event.h"
#include "RecordScanner.h"

namespace kivo::eventio {

class StreamReader {
 public:
  // path "-" = standard input. follow: at end of data keep waiting for more.
  // Returns nullptr and sets error ("<path>: <reason>") if it cannot be opened.
  static std::unique_ptr<StreamReader> open(const std::string& path, bool follow,
                                            std::string& error);
  ~StreamReader();

  StreamReader(const StreamReader&) = delete;
  StreamReader& operator=(const StreamReader&) = delete;

  // Next intact event, or nullptr when none is available now (never blocks).
  // One call skips a bounded amount of bytes that hold no record, so that a
  // source made of them (a long damaged region, /dev/zero) cannot keep it from
  // returning: more_available() then tells that there is more to read now.
  std::unique_ptr<Event> next();
  // The same, with the concrete type (sequence number, record()).
  std::unique_ptr<StreamEvent> next_stream_event();
  // nullptr from next() means no more events will ever come.
  bool finished() const { return scanner_.drained() && !restart_pending_; }
  // Whether the last next() gave nullptr only because it had skipped its share
  // of bytes: calling it again goes on at once, without waiting for new data.
  bool more_available() const { return more_available_; }
  // A followed file: finish at the current end.
  void stop_following() { follow_ = false; }
  const ReaderCounters& counters() const { return scanner_.counters(); }
  bool nothing_was_a_stream() const { return scanner_.nothing_was_a_stream(); }
  const std::string& path() const { return path_; }
  // fd to poll() for readability (pipes/stdin), -1 for regular files and
  // for a named pipe without a writer yet, which poll() does not tell of.
  int poll_fd() const { return is_pipe_ && writer_seen_ ? fd_ : -1; }
  // A named pipe that no writer has opened yet.
  bool waiting_for_writer() const { return !writer_seen_; }
  // A followed file whose path names no file any more.
  bool deleted() const { return deleted_; }

 private:
  StreamReader(std::string path, int fd, bool is_pipe, bool follow);
  enum class Change { none, cut_back, started_over };
  struct Stall {
    std::uint64_t offset = UINT64_MAX;
    std::size_t present = 0;
    std::chrono::steady_clock::time_point since;
    bool named = false;
  };

  std::unique_ptr<StreamEvent> read_next_event();
  // Reads one chunk of what is there now; false when nothing new came.
  bool read_available();
  // Nothing new has come: true when a damaged record could be skipped.
  bool nothing_new();
  bool wait_for_writer();
  // Names, once, a record that has waited a few seconds for its bytes.
  void watch_stall();
  // Before reading a followed file: whether the writer replaced it or cut it
  // back (and perhaps wrote it again); the descriptor then reads on where the
  // change leaves the reading.
  Change look_for_changes();
  // The path names no file: said once until one is there again.
  void note_deleted();
  bool reopen_replaced_file();
  bool continue_after_cut(off_t size);
  void announce_start_over(const std::string& what);
  // The last bytes read from a followed file, to tell one written again
  // after a truncation from one that has only grown.
  void remember_tail(const std::uint8_t* data, std::size_t size);
  bool same_bytes_before(off_t end, const std::uint8_t* bytes, std::size_t size) const;

  static constexpr std::size_t kTailBytes = 64;

  std::string path_;
  int fd_ = -1;
  bool is_pipe_ = false;
  bool follow_ = false;
  bool owns_fd_ = true;
  int original_flags_ = 0;  // file status flags of a shared standard input, restored at the end
  bool restart_pending_ = false;  // the new content is read once the old bytes are drained
  bool more_available_ = false;
  bool writer_seen_ = true;     // false for a named pipe until its writer showed
  bool writer_awaited_ = false;
  bool deleted_ = false;
  std::array<std::uint8_t, kTailBytes> tail_{};
  std::size_t tail_size_ = 0;
  std::uint64_t records_before_start_ = 0;  // records read before the content now read began
  Stall stall_;
  RecordScanner scanner_;
};

}  // namespace kivo::eventio

#endif
