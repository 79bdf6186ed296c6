// Cuts a byte stream in the stream format into events, whatever pieces the bytes
// arrive in. Bad records (unknown version, impossible length, bad CRC-32C,
// inconsistent payload) are reported with the source name and byte offset and
// skipped; after a bad header the scanner resynchronises on the next record
// marker, so no intact record behind the damage is lost. Problems that come by
// the thousand are summarised (DiagnosticThrottle.h).
#ifndef KIVO_EVENTIO_RECORD_SCANNER_H
#define KIVO_EVENTIO_RECORD_SCANNER_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "DiagnosticThrottle.h"
#include "StreamEvent.h"

namespace kivo::eventio {

struct ReaderCounters {
  std::uint64_t records_read = 0, records_rejected = 0, bytes_read = 0;
};

// A record whose header has arrived but not all of its bytes.
struct PendingRecord {
  std::uint64_t offset;  // stream offset of its header
  std::size_t size;      // header and payload, as the header claims
  std::size_t present;   // bytes of it received so far
};

class RecordScanner {
 public:
  explicit RecordScanner(std::string source_name);

  // Space for at least `size` more bytes; commit() then appends the `count` written there.
  std::uint8_t* prepare(std::size_t size);
  void commit(std::size_t count);
  void feed(const void* data, std::size_t size);

  // The next intact event among the bytes so far, or null when more bytes are needed.
  std::unique_ptr<StreamEvent> next();
  // No more bytes will come: an incomplete record left is reported as a truncated tail.
  void finish();
  bool finishing() const { return finished_; }
  // finish() was called and every byte has been consumed.
  bool drained() const { return finished_ && begin_ == end_; }
  // Once drained: the bytes fed next are a new stream, read from its file
  // header on, with offsets counted from 0 again. The counters go on.
  void restart();

  const ReaderCounters& counters() const { return counters_; }
  // Whether bytes came and none of them was a stream file header or a record.
  bool nothing_was_a_stream() const {
    return !header_seen_ && counters_.records_read == 0 && counters_.records_rejected > 0;
  }
  // Stream offset of the first byte not yet taken by an event or skipped.
  std::uint64_t offset() const { return consumed_ + begin_; }
  // Up to the last 64 bytes taken or skipped, those just before offset().
  std::string_view recent_bytes() const;

  // The record being waited for, if any.
  std::optional<PendingRecord> pending_record() const;
  // For a source that has nothing more to give now: when the record waited
  // for claims more bytes than have arrived and a whole valid record (or file
  // header) starts among those that did, the long record is damaged: it is
  // reported and skipped as a bad header is. True when it was.
  bool skip_overlong_record();
  // The bytes after offset() are no longer part of the stream (its file was
  // cut back there): they are dropped, and reported when they held part of a
  // record. The bytes fed next continue the stream at offset().
  void drop_unconsumed();
  // Tells the problems held back from reporting once their minute is over,
  // or all of them now once drained().
  void report_held_back() { drained() ? diagnostics_.flush() : diagnostics_.tick(); }

 private:
  enum class Step { event, need_bytes, skipped };
  enum class Candidate { valid, invalid, undecided };

  Step scan_one(std::unique_ptr<StreamEvent>& event);
  Step scan_file_header();
  Step scan_record(std::unique_ptr<StreamEvent>& event);
  Step truncated(std::size_t needed);
  Step reject_and_resync(const std::string& what);
  bool skip_to_next_marker();
  Candidate candidate_at(std::size_t pos) const;
  void compact();
  std::size_t available() const { return end_ - begin_; }
  std::uint32_t word_at(std::size_t pos) const;
  void report(std::uint64_t at, const std::string& what);

  std::string source_name_;
  DiagnosticThrottle diagnostics_{source_name_};
  std::vector<std::uint8_t> buffer_;
  std::size_t begin_ = 0;        // first unconsumed byte in buffer_
  std::size_t end_ = 0;          // end of the bytes received in buffer_
  std::uint64_t consumed_ = 0;   // stream offset of buffer_[0]
  bool header_seen_ = false;
  bool finished_ = false;
  bool resyncing_ = false;       // scanning for a marker after a bad region
  // skip_overlong_record() has ruled out every candidate before this stream
  // offset for the record at `overlong_record_`, so that a source that stays
  // still is not searched again from the start at every look.
  std::uint64_t overlong_record_ = UINT64_MAX;
  std::uint64_t overlong_searched_ = 0;
  ReaderCounters counters_;
};

}  // namespace kivo::eventio

#endif
