// The queue of event sources: stream files, followed files and standard
// input, read one after the other in the order they were opened.
#ifndef KIVO_HOST_EVENT_SOURCES_H
#define KIVO_HOST_EVENT_SOURCES_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "StreamReader.h"

namespace kivo::host {

class EventSources {
 public:
  // Queues `path` ("-" for standard input); false with `error` when it cannot be opened.
  bool open(const std::string& path, bool follow, std::string& error);
  // The next event of the first unfinished source, or null when it has none now.
  std::unique_ptr<Event> next();
  // Whether the last null from next() was a pause in data that is already
  // there: calling again goes on without waiting.
  bool more_available() const;
  // True when no queued source will ever yield another event.
  bool exhausted();
  // Followed files finish at their current end.
  void stop_following();
  // The descriptor to poll while waiting for the current source, -1 when
  // it cannot be polled (a regular file) or there is none.
  int poll_fd() const;
  bool following() const;
  // Whether any source was ever queued.
  bool opened() const { return !sources_.empty(); }
  // Whether a queued source is standard input ("-").
  bool reads_standard_input() const;
  // One line per source: path, state, events read, records rejected.
  std::vector<std::string> describe() const;
  std::uint64_t events_read() const { return events_read_; }
  // Records rejected by every source so far.
  std::uint64_t records_rejected() const;
  // The finished sources whose bytes held neither a stream file header nor
  // a record: files that are not streams at all, a text file given by mistake.
  std::vector<std::string> not_streams() const;
  // Sources that may still yield events.
  int unfinished() const;
  // The path of the source the last event came from ("-": standard input).
  const std::string& last_source() const { return last_source_; }

 private:
  struct Source {
    std::unique_ptr<eventio::StreamReader> reader;
    bool follow;
    std::uint64_t events = 0;
  };
  Source* current();

  std::vector<Source> sources_;
  std::size_t current_ = 0;
  std::uint64_t events_read_ = 0;
  std::string last_source_;
};

}  // namespace kivo::host

#endif
