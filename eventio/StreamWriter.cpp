#include "StreamWriter.h"

#include <unistd.h>

#include "StreamFormat.h"

namespace kivo::eventio {
namespace {

constexpr std::size_t kFlushThreshold = std::size_t{1} << 20;

}  // namespace

StreamWriter::StreamWriter() : buffer_(encode_file_header()) {}

std::unique_ptr<StreamWriter> StreamWriter::open(const std::string& path, std::string& error) {
  std::unique_ptr<StreamWriter> writer(new StreamWriter());
  if (path == "-") {
    // Binary records would only garble the operator's terminal.
    if (::isatty(STDOUT_FILENO)) {
      error = "-: standard output is a terminal; give an output file or redirect it";
      return nullptr;
    }
    writer->file_.open_standard_output();
  } else if (!writer->file_.open(path, error))
    return nullptr;
  return writer;
}

bool StreamWriter::flush() {
  if (!error_.empty()) return false;
  if (!file_.write(buffer_, error_)) return false;
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
    error_ = path() + ": event " + std::to_string(record.sequence) +
             " is too large for one record (more than 64 MiB)";
    return false;
  }
  return buffer_.size() < kFlushThreshold || flush();
}

bool StreamWriter::close(std::string& error) {
  if (closed_) {
    error = path() + ": already closed";
    return false;
  }
  closed_ = true;
  if (flush() && file_.commit(error_)) return true;
  error = error_;
  return false;
}

}  // namespace kivo::eventio
