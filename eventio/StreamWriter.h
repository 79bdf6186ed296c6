// Writes event records in the stream format to a path or to standard output ("-").
// A path is written atomically (see OutputFile.h): records go to a temporary
// file that is renamed over the path by a successful close(); without one,
// nothing appears. A symbolic link keeps leading to the file written.
#ifndef KIVO_EVENTIO_STREAM_WRITER_H
#define KIVO_EVENTIO_STREAM_WRITER_H

#include <memory>
#include <string>

#include "EventRecord.h"
#include "OutputFile.h"

namespace kivo::eventio {

class StreamWriter {
 public:
  // Returns null and sets error ("<path>: <reason>") when the output cannot be
  // created; "-" is standard output, refused when it is a terminal.
  static std::unique_ptr<StreamWriter> open(const std::string& path, std::string& error);

  StreamWriter(const StreamWriter&) = delete;
  StreamWriter& operator=(const StreamWriter&) = delete;

  // Appends one record (its sequence number as given). False after a write
  // error, or for an event whose payload would exceed the 64 MiB a record holds.
  bool write(const EventRecord& record);
  // Flushes and, for a path, renames the temporary file into place.
  // Returns false and sets error ("<path>: <reason>") on failure.
  bool close(std::string& error);

  const std::string& path() const { return file_.path(); }

 private:
  StreamWriter();
  bool flush();

  OutputFile file_;
  std::string buffer_;
  std::string error_;
  bool closed_ = false;
};

}  // namespace kivo::eventio

#endif
