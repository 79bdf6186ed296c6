#include "StreamWriter.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "OutputPath.h"
#include "StreamFormat.h"

namespace kivo::eventio {
namespace {

constexpr std::size_t kFlushThreshold = std::size_t{1} << 20;

std::string system_error_text() { return std::strerror(errno); }

bool write_all(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

StreamWriter::StreamWriter(std::string path, std::string temp_path, int fd)
    : path_(std::move(path)), temp_path_(std::move(temp_path)), fd_(fd), buffer_(encode_file_header()) {}

StreamWriter::~StreamWriter() {
  if (closed_) return;
  if (temp_path_.empty()) {
    flush();
    if (fd_ != STDOUT_FILENO) ::close(fd_);
    return;
  }
  ::close(fd_);
  ::unlink(temp_path_.c_str());
}

std::unique_ptr<StreamWriter> StreamWriter::open(const std::string& path, std::string& error) {
  if (path == "-") return std::unique_ptr<StreamWriter>(new StreamWriter(path, "", STDOUT_FILENO));
  if (!replaceable_by_rename(path)) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
      error = path + ": " + system_error_text();
      return nullptr;
    }
    return std::unique_ptr<StreamWriter>(new StreamWriter(path, "", fd));
  }
  std::string temp = path + ".partial-XXXXXX";
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) {
    error = path + ": " + system_error_text();
    return nullptr;
  }
  ::fchmod(fd, 0644);
  return std::unique_ptr<StreamWriter>(new StreamWriter(path, temp, fd));
}

bool StreamWriter::flush() {
  if (!error_.empty()) return false;
  if (!write_all(fd_, buffer_.data(), buffer_.size())) {
    error_ = path_ + ": " + system_error_text();
    return false;
  }
  buffer_.clear();
  return true;
}

bool StreamWriter::write(const EventRecord& record) {
  if (closed_ || !error_.empty()) return false;
  const std::size_t start = buffer_.size();
  append_record(buffer_, record);
  // Readers reject a longer payload as damage; better to refuse it here.
  if (buffer_.size() - start - kRecordHeaderSize > kMaxPayloadSize) {
    buffer_.resize(start);
    error_ = path_ + ": event " + std::to_string(record.sequence) +
             " is too large for one record (more than 64 MiB)";
    return false;
  }
  return buffer_.size() < kFlushThreshold || flush();
}

bool StreamWriter::close(std::string& error) {
  if (closed_) {
    error = path_ + ": already closed";
    return false;
  }
  closed_ = true;
  bool ok = flush();
  if (temp_path_.empty() && fd_ != STDOUT_FILENO && ::close(fd_) != 0 && ok) {
    error_ = path_ + ": " + system_error_text();
    ok = false;
  }
  if (!temp_path_.empty()) {
    const bool closed_ok = ::close(fd_) == 0;
    if (ok && !closed_ok) {
      error_ = path_ + ": " + system_error_text();
      ok = false;
    }
    if (ok && ::rename(temp_path_.c_str(), path_.c_str()) != 0) {
      error_ = path_ + ": " + system_error_text();
      ok = false;
    }
    if (!ok) ::unlink(temp_path_.c_str());
  }
  if (!ok) error = error_;
  return ok;
}

}  // namespace kivo::eventio
