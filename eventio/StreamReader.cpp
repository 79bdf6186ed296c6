#include "StreamReader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "Diagnostics.h"

namespace kivo::eventio {
namespace {

// Bytes taken in by one read: small enough that a chunk is still in cache
// while its records are checked and decoded.
constexpr std::size_t kReadChunk = std::size_t{1} << 18;
// How long a record may wait for its bytes before the reader says so.
constexpr std::chrono::seconds kStallNotice{5};

std::string system_error_text() { return std::strerror(errno); }

}  // namespace

StreamReader::StreamReader(std::string path, int fd, bool is_pipe, bool follow)
    : path_(std::move(path)),
      fd_(fd),
      is_pipe_(is_pipe),
      follow_(follow && !is_pipe),
      owns_fd_(path_ != "-"),
      scanner_(path_ == "-" ? "standard input" : path_) {}

StreamReader::~StreamReader() {
  if (is_pipe_ && !owns_fd_) ::fcntl(fd_, F_SETFL, original_flags_);
  if (owns_fd_) ::close(fd_);
}

std::unique_ptr<StreamReader> StreamReader::open(const std::string& path, bool follow,
                                                 std::string& error) {
  const bool from_stdin = path == "-";
  // O_NONBLOCK: opening a named pipe must not wait for its writer.
  const int fd = from_stdin ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    error = path + ": " + system_error_text();
    return nullptr;
  }
  struct stat info {};
  const bool stated = ::fstat(fd, &info) == 0;
  const std::string refusal = !stated                 ? system_error_text()
                              : S_ISDIR(info.st_mode) ? "is a directory"
                              : !from_stdin && ::isatty(fd) ? "is a terminal, not a stream"
                                                            : "";
  if (!refusal.empty()) {
    error = path + ": " + refusal;
    if (!from_stdin) ::close(fd);
    return nullptr;
  }
  const bool is_pipe = !S_ISREG(info.st_mode);
  const int flags = ::fcntl(fd, F_GETFL);
  if (is_pipe && (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0)) {
    error = path + ": cannot read without blocking: " + system_error_text();
    if (!from_stdin) ::close(fd);
    return nullptr;
  }
  auto reader = std::unique_ptr<StreamReader>(new StreamReader(path, fd, is_pipe, follow));
  reader->original_flags_ = flags;
  reader->writer_seen_ = from_stdin || !S_ISFIFO(info.st_mode);
  return reader;
}

bool StreamReader::read_available() {
  // Checked before reading on, so that new content is never read from the
  // old offset; the old bytes end here, and a record they leave unfinished is
  // a truncated tail.
  if (follow_ && look_for_changes() == Change::started_over) {
    scanner_.finish();
    restart_pending_ = true;
    return false;
  }
  for (;;) {
    std::uint8_t* space = scanner_.prepare(kReadChunk);
    const ssize_t n = ::read(fd_, space, kReadChunk);
    if (n > 0) {
      if (follow_) remember_tail(space, static_cast<std::size_t>(n));
      scanner_.commit(static_cast<std::size_t>(n));
      writer_seen_ = true;
      return true;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      writer_seen_ = true;
      return nothing_new();
    }
    if (n == 0 && !writer_seen_) return wait_for_writer();
    if (n < 0) report_diagnostic(path_ + ": read error: " + system_error_text());
    if (n < 0 || !follow_) {
      scanner_.finish();
      return false;
    }
    return nothing_new();
  }
}

// A named pipe reads as ended until a writer opens it; its end is the end
// of the writer that came.
bool StreamReader::wait_for_writer() {
  if (!writer_awaited_) report_diagnostic(path_ + ": named pipe without a writer; reading it once one opens it");
  writer_awaited_ = true;
  return false;
}

bool StreamReader::nothing_new() {
  if (scanner_.skip_overlong_record()) return true;
  watch_stall();
  return false;
}

void StreamReader::watch_stall() {
  const std::optional<PendingRecord> pending = scanner_.pending_record();
  if (!pending) return;
  const auto now = std::chrono::steady_clock::now();
  if (pending->offset != stall_.offset) stall_ = Stall{pending->offset, pending->present, now, false};
  if (pending->present != stall_.present) {
    stall_.present = pending->present;
    stall_.since = now;
  }
  if (stall_.named || now - stall_.since < kStallNotice) return;
  stall_.named = true;
  report_diagnostic(path_ + ": offset " + std::to_string(pending->offset) + ": waiting for the rest of a record of " +
                    std::to_string(pending->size) + " bytes (" + std::to_string(pending->present) + " present)");
}

void StreamReader::remember_tail(const std::uint8_t* data, std::size_t size) {
  const std::size_t kept = std::min(tail_size_, tail_.size() - std::min(size, tail_.size()));
  std::memmove(tail_.data(), tail_.data() + tail_size_ - kept, kept);
  const std::size_t taken = std::min(size, tail_.size());
  std::memcpy(tail_.data() + kept, data + size - taken, taken);
  tail_size_ = kept + taken;
}

// Whether the file still holds `bytes` just before `end`.
bool StreamReader::same_bytes_before(off_t end, const std::uint8_t* bytes, std::size_t size) const {
  std::array<std::uint8_t, kTailBytes> now{};
  const ssize_t n = ::pread(fd_, now.data(), size, end - static_cast<off_t>(size));
  return n == static_cast<ssize_t>(size) && std::memcmp(now.data(), bytes, size) == 0;
}

// The path names another file after an atomic rename over it, which is read
// once the replaced file has nothing more; a file shorter than what was read,
// or whose last bytes read have changed, has been cut back (and perhaps
// written again). Standard input has no path to check.
StreamReader::Change StreamReader::look_for_changes() {
  struct stat named {}, opened {};
  if (!owns_fd_ || ::fstat(fd_, &opened) != 0) return Change::none;
  if (::stat(path_.c_str(), &named) != 0) {
    if (errno == ENOENT) note_deleted();
    return Change::none;
  }
  deleted_ = false;
  const off_t position = ::lseek(fd_, 0, SEEK_CUR);
  if (named.st_dev != opened.st_dev || named.st_ino != opened.st_ino)
    return opened.st_size <= position && reopen_replaced_file() ? Change::started_over : Change::none;
  if (named.st_size >= position && same_bytes_before(position, tail_.data(), tail_size_)) return Change::none;
  if (continue_after_cut(named.st_size)) return Change::cut_back;
  if (::lseek(fd_, 0, SEEK_SET) != 0) return Change::none;
  tail_size_ = 0;
  announce_start_over("file truncated");
  return Change::started_over;
}

void StreamReader::note_deleted() {
  if (deleted_) return;
  deleted_ = true;
  report_diagnostic(path_ + ": file deleted or moved away; reading on what its writer still adds, and a new file "
                    "of this name from its start");
}

// Everything taken from the file so far is still there: the reading goes on
// just after it, and what was read beyond it is read again as it is now.
bool StreamReader::continue_after_cut(off_t size) {
  const std::uint64_t boundary = scanner_.offset();
  const std::string_view recent = scanner_.recent_bytes();
  const auto* recent_bytes = reinterpret_cast<const std::uint8_t*>(recent.data());
  const auto end = static_cast<off_t>(boundary);
  if (size < end || !same_bytes_before(end, recent_bytes, recent.size()) || ::lseek(fd_, end, SEEK_SET) != end)
    return false;
  scanner_.drop_unconsumed();
  std::memcpy(tail_.data(), recent_bytes, recent.size());
  tail_size_ = recent.size();
  return true;
}

// O_NONBLOCK: should the path have become a FIFO meanwhile, opening it must
// not wait for a writer; only a regular file replaces the one followed.
bool StreamReader::reopen_replaced_file() {
  const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return false;
  }
  ::close(fd_);
  fd_ = fd;
  tail_size_ = 0;
  announce_start_over("file replaced");
  return true;
}

// The histograms may hold the events read so far: the operator is told how many.
void StreamReader::announce_start_over(const std::string& what) {
  const std::uint64_t before = scanner_.counters().records_read - records_before_start_;
  report_diagnostic(path_ + ": " + what + "; reading it from the start (" + std::to_string(before) +
                    (before == 1 ? " event" : " events") + " read from it before)");
}

// Problems held back from reporting are told while no event comes.
std::unique_ptr<StreamEvent> StreamReader::next_stream_event() {
  std::unique_ptr<StreamEvent> event = read_next_event();
  if (!event) scanner_.report_held_back();
  return event;
}

// Reads on while the bytes so far end inside a record; bytes that hold no
// record are skipped at most about one chunk per call.
std::unique_ptr<StreamEvent> StreamReader::read_next_event() {
  more_available_ = false;
  std::uint64_t start = scanner_.offset();
  for (;;) {
    if (auto event = scanner_.next()) return event;
    if (scanner_.drained()) {
      if (!std::exchange(restart_pending_, false)) return nullptr;
      scanner_.restart();
      records_before_start_ = scanner_.counters().records_read;
      start = 0;
    }
    if (scanner_.offset() - start >= kReadChunk) {
      more_available_ = true;
      return nullptr;
    }
    if (!read_available() && !scanner_.finishing()) return nullptr;
  }
}

std::unique_ptr<Event> StreamReader::next() { return next_stream_event(); }

}  // namespace kivo::eventio
