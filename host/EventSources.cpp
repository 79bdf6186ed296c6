#include "EventSources.h"

#include <utility>

namespace kivo::host {

bool EventSources::open(const std::string& path, bool follow, std::string& error) {
  std::unique_ptr<eventio::StreamReader> reader = eventio::StreamReader::open(path, follow, error);
  if (!reader) return false;
  sources_.push_back(Source{std::move(reader), follow});
  return true;
}

EventSources::Source* EventSources::current() {
  while (current_ < sources_.size() && sources_[current_].reader->finished()) ++current_;
  return current_ < sources_.size() ? &sources_[current_] : nullptr;
}

std::unique_ptr<Event> EventSources::next() {
  while (Source* source = current()) {
    std::unique_ptr<Event> event = source->reader->next();
    if (event) {
      ++source->events;
      ++events_read_;
      if (last_source_ != source->reader->path()) last_source_ = source->reader->path();
      return event;
    }
    if (!source->reader->finished()) return nullptr;
  }
  return nullptr;
}

bool EventSources::more_available() const {
  return current_ < sources_.size() && sources_[current_].reader->more_available();
}

bool EventSources::exhausted() { return current() == nullptr; }

void EventSources::stop_following() {
  for (Source& source : sources_) {
    source.reader->stop_following();
    source.follow = false;
  }
}

int EventSources::poll_fd() const {
  return current_ < sources_.size() ? sources_[current_].reader->poll_fd() : -1;
}

bool EventSources::following() const {
  for (std::size_t i = current_; i < sources_.size(); ++i) {
    if (sources_[i].follow) return true;
  }
  return false;
}

bool EventSources::reads_standard_input() const {
  for (const Source& source : sources_) {
    if (source.reader->path() == "-") return true;
  }
  return false;
}

std::uint64_t EventSources::records_rejected() const {
  std::uint64_t rejected = 0;
  for (const Source& source : sources_) rejected += source.reader->counters().records_rejected;
  return rejected;
}

std::vector<std::string> EventSources::not_streams() const {
  std::vector<std::string> paths;
  for (const Source& source : sources_)
    if (source.reader->finished() && source.reader->nothing_was_a_stream()) paths.push_back(source.reader->path());
  return paths;
}

int EventSources::unfinished() const {
  int count = 0;
  for (std::size_t i = current_; i < sources_.size(); ++i)
    if (!sources_[i].reader->finished()) ++count;
  return count;
}

std::vector<std::string> EventSources::describe() const {
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < sources_.size(); ++i) {
    const Source& source = sources_[i];
    const char* state = source.reader->finished()             ? "finished"
                        : source.follow && source.reader->deleted() ? "following, file deleted"
                        : source.follow                       ? "following"
                        : source.reader->waiting_for_writer() ? "waiting for a writer"
                        : i == current_                       ? "reading"
                                                              : "queued";
    lines.push_back(source.reader->path() + " (" + state + "): " +
                    std::to_string(source.events) + " events read, " +
                    std::to_string(source.reader->counters().records_rejected) +
                    " records rejected");
  }
  return lines;
}

}  // namespace kivo::host
