#include "RecordScanner.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "Crc32c.h"
#include "StreamFormat.h"

namespace kivo::eventio {
namespace {

constexpr std::size_t kCompactThreshold = std::size_t{1} << 18;
// Kept before the first unconsumed byte when the buffer is compacted, so that
// a reader can tell whether what it took from a file is still there.
constexpr std::size_t kRecentBytes = 64;

std::uint32_t magic_start() {
  std::uint32_t word;
  std::memcpy(&word, kFileMagic, 4);
  return word;
}

}  // namespace

RecordScanner::RecordScanner(std::string source_name) : source_name_(std::move(source_name)) {}

std::uint8_t* RecordScanner::prepare(std::size_t size) {
  compact();
  if (buffer_.size() - end_ < size) buffer_.resize(end_ + size);
  return buffer_.data() + end_;
}

void RecordScanner::commit(std::size_t count) {
  end_ += std::min(count, buffer_.size() - end_);
  counters_.bytes_read += count;
}

void RecordScanner::feed(const void* data, std::size_t size) {
  if (size == 0) return;
  std::memcpy(prepare(size), data, size);
  commit(size);
}

void RecordScanner::finish() { finished_ = true; }

void RecordScanner::restart() {
  begin_ = end_ = 0;
  consumed_ = 0;
  header_seen_ = false;
  finished_ = false;
  resyncing_ = false;
  overlong_record_ = UINT64_MAX;
}

std::string_view RecordScanner::recent_bytes() const {
  const std::size_t kept = std::min(begin_, kRecentBytes);
  return {reinterpret_cast<const char*>(buffer_.data() + begin_ - kept), kept};
}

std::optional<PendingRecord> RecordScanner::pending_record() const {
  if (finished_ || resyncing_ || available() < kRecordHeaderSize || word_at(begin_) != kRecordMarker)
    return std::nullopt;
  const std::uint32_t length = word_at(begin_ + 8);
  if (word_at(begin_ + 4) != kFormatVersion || length < kMinPayloadSize || length > kMaxPayloadSize ||
      length % 4 != 0)
    return std::nullopt;
  const std::size_t size = kRecordHeaderSize + length;
  if (available() >= size) return std::nullopt;
  return PendingRecord{offset(), size, available()};
}

bool RecordScanner::skip_overlong_record() {
  const std::optional<PendingRecord> pending = pending_record();
  if (!pending) return false;
  if (overlong_record_ != pending->offset) {
    overlong_record_ = pending->offset;
    overlong_searched_ = pending->offset + 1;
  }
  const std::uint8_t* data = buffer_.data();
  std::size_t pos = static_cast<std::size_t>(overlong_searched_ - consumed_);
  std::size_t resume = end_;
  for (; pos + 4 <= end_; ++pos) {
    const void* next = std::memchr(data + pos, 'K', end_ - 3 - pos);
    if (!next) {
      pos = end_ - 3;
      break;
    }
    pos = static_cast<std::size_t>(static_cast<const std::uint8_t*>(next) - data);
    const Candidate candidate = candidate_at(pos);
    if (candidate == Candidate::valid) {
      report(offset(), "record claims " + std::to_string(pending->size) + " bytes, but a valid record starts at offset " +
                           std::to_string(consumed_ + pos) + "; skipping to the next record");
      ++counters_.records_rejected;
      ++begin_;
      resyncing_ = true;
      overlong_record_ = UINT64_MAX;
      return true;
    }
    if (candidate == Candidate::undecided && resume == end_) resume = pos;
  }
  overlong_searched_ = consumed_ + std::min(resume, pos);
  return false;
}

void RecordScanner::drop_unconsumed() {
  if (available() > 0 && !resyncing_)
    report(offset(), "record cut off when the file was cut back (" + std::to_string(available()) +
                         " bytes of it read); reading on from here");
  end_ = begin_;
  overlong_record_ = UINT64_MAX;
}

// Whether a whole record with a consistent header and a matching CRC, or a
// whole file header, starts at `pos`; undecided while its bytes have not all
// arrived.
RecordScanner::Candidate RecordScanner::candidate_at(std::size_t pos) const {
  const std::size_t present = end_ - pos;
  if (word_at(pos) == magic_start()) {
    if (present < kFileHeaderSize) return Candidate::undecided;
    const bool whole = std::memcmp(buffer_.data() + pos, kFileMagic, sizeof kFileMagic) == 0 &&
                       word_at(pos + 8) == kFormatVersion && word_at(pos + 12) == kFileHeaderSize;
    return whole ? Candidate::valid : Candidate::invalid;
  }
  if (word_at(pos) != kRecordMarker) return Candidate::invalid;
  if (present < kRecordHeaderSize) return Candidate::undecided;
  const std::uint32_t length = word_at(pos + 8);
  if (word_at(pos + 4) != kFormatVersion || length < kMinPayloadSize || length > kMaxPayloadSize || length % 4 != 0)
    return Candidate::invalid;
  if (present - kRecordHeaderSize < length) return Candidate::undecided;
  const bool intact = crc32c(buffer_.data() + pos + kRecordHeaderSize, length) == word_at(pos + 12);
  return intact ? Candidate::valid : Candidate::invalid;
}

std::unique_ptr<StreamEvent> RecordScanner::next() {
  std::unique_ptr<StreamEvent> event;
  for (;;) {
    switch (scan_one(event)) {
      case Step::event:
        return event;
      case Step::need_bytes:
        return nullptr;
      case Step::skipped:
        break;
    }
  }
}

void RecordScanner::compact() {
  if (begin_ != end_ && (begin_ < kCompactThreshold || begin_ * 2 < end_)) return;
  const std::size_t from = begin_ - std::min(begin_, kRecentBytes);
  if (from == 0) return;
  std::memmove(buffer_.data(), buffer_.data() + from, end_ - from);
  consumed_ += from;
  begin_ -= from;
  end_ -= from;
}

std::uint32_t RecordScanner::word_at(std::size_t pos) const {
  std::uint32_t word;
  std::memcpy(&word, buffer_.data() + pos, 4);
  return word;
}

void RecordScanner::report(std::uint64_t at, const std::string& what) { diagnostics_.report(at, what); }

RecordScanner::Step RecordScanner::scan_one(std::unique_ptr<StreamEvent>& event) {
  if (resyncing_ && !skip_to_next_marker()) return Step::need_bytes;
  if (available() < 4) return available() > 0 && finished_ ? truncated(4) : Step::need_bytes;
  const std::uint32_t first = word_at(begin_);
  if (first == kRecordMarker) return scan_record(event);
  if (first == magic_start()) return scan_file_header();
  return reject_and_resync(header_seen_ ? "no record marker; skipping to the next record"
                                        : "no stream file header; skipping to the first record");
}

RecordScanner::Step RecordScanner::scan_file_header() {
  if (available() < kFileHeaderSize) return finished_ ? truncated(kFileHeaderSize) : Step::need_bytes;
  if (std::memcmp(buffer_.data() + begin_, kFileMagic, sizeof kFileMagic) != 0)
    return reject_and_resync("no record marker; skipping to the next record");
  const std::uint32_t version = word_at(begin_ + 8), size = word_at(begin_ + 12);
  if (version != kFormatVersion)
    return reject_and_resync("unsupported stream version " + std::to_string(version));
  if (size != kFileHeaderSize)
    return reject_and_resync("impossible file header size " + std::to_string(size));
  header_seen_ = true;
  begin_ += kFileHeaderSize;
  return Step::skipped;
}

RecordScanner::Step RecordScanner::scan_record(std::unique_ptr<StreamEvent>& event) {
  if (available() < kRecordHeaderSize)
    return finished_ ? truncated(kRecordHeaderSize) : Step::need_bytes;
  const std::uint32_t version = word_at(begin_ + 4), length = word_at(begin_ + 8);
  if (version != kFormatVersion)
    return reject_and_resync("unknown record version " + std::to_string(version));
  if (length < kMinPayloadSize || length > kMaxPayloadSize || length % 4 != 0)
    return reject_and_resync("impossible payload length " + std::to_string(length));
  const std::size_t record_size = kRecordHeaderSize + length;
  if (available() < record_size) return finished_ ? truncated(record_size) : Step::need_bytes;
  const std::uint8_t* payload = buffer_.data() + begin_ + kRecordHeaderSize;
  if (crc32c(payload, length) != word_at(begin_ + 12))
    return reject_and_resync("bad CRC-32C; skipping to the next record");
  std::string error;
  event = StreamEvent::decode(payload, length, error);
  if (!event) {
    report(offset(), "bad event: " + error);
    ++counters_.records_rejected;
    begin_ += record_size;
    return Step::skipped;
  }
  ++counters_.records_read;
  begin_ += record_size;
  return Step::event;
}

RecordScanner::Step RecordScanner::truncated(std::size_t needed) {
  return reject_and_resync("truncated record at end of data (" + std::to_string(available()) +
                           " of " + std::to_string(needed) + " bytes)");
}

RecordScanner::Step RecordScanner::reject_and_resync(const std::string& what) {
  report(offset(), what);
  ++counters_.records_rejected;
  ++begin_;
  resyncing_ = true;
  return Step::skipped;
}

bool RecordScanner::skip_to_next_marker() {
  const std::uint32_t magic = magic_start();
  while (available() >= 4) {
    const std::uint32_t word = word_at(begin_);
    if (word == kRecordMarker || word == magic) {
      resyncing_ = false;
      return true;
    }
    const std::uint8_t* from = buffer_.data() + begin_ + 1;
    const std::uint8_t* last = buffer_.data() + end_ - 3;
    const auto* hit = std::find_if(from, last, [](std::uint8_t b) { return b == 'K'; });
    begin_ = static_cast<std::size_t>(hit - buffer_.data());
  }
  if (finished_) {
    begin_ = end_;
    resyncing_ = false;
  }
  return false;
}

}  // namespace kivo::eventio
