// kivo-dump: turns a stream file into the text form of its events.
#include <charconv>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "OutputPath.h"
#include "StreamReader.h"
#include "TextFormat.h"

namespace {

void print_help() {
  std::printf(
      "usage: kivo-dump [-n COUNT] [INPUT [OUTPUT]]\n"
      "Reads a KIVO stream from INPUT (a file, or - for standard input, the default)\n"
      "and writes its events in the canonical text form to OUTPUT (a file, written\n"
      "atomically, or - for standard output, the default); kivo-pack turns it back\n"
      "into the same bytes.\n"
      "Damaged records are reported on standard error and skipped.\n\n"
      "  -n COUNT     stop after COUNT events\n"
      "  -h, --help   this text\n\n"
      "Exit status: 0 when every record was intact, 1 when some were rejected, an\n"
      "event cannot be written exactly in the text form or a file cannot be read or\n"
      "written, 2 on a usage error.\n");
}

struct Arguments {
  std::string input = "-";
  std::string output = "-";
  long long limit = -1;
};

int parse_arguments(int argc, char** argv, Arguments& args) {
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      print_help();
      return 0;
    }
    if (arg == "-n") {
      const std::string_view value = i + 1 < argc ? argv[++i] : "";
      const auto [ptr, ec] = std::from_chars(value.data(), value.data() + value.size(), args.limit);
      if (value.empty() || ec != std::errc() || ptr != value.data() + value.size() || args.limit < 0) {
        std::fprintf(stderr, "kivo-dump: -n needs a count\n");
        return 2;
      }
    } else if (arg.size() > 1 && arg[0] == '-') {
      std::fprintf(stderr, "kivo-dump: unknown option '%s' (see --help)\n", argv[i]);
      return 2;
    } else {
      positional.emplace_back(arg);
    }
  }
  if (positional.size() > 2) {
    std::fprintf(stderr, "kivo-dump: too many arguments (see --help)\n");
    return 2;
  }
  if (positional.size() > 0) args.input = positional[0];
  if (positional.size() > 1) args.output = positional[1];
  return -1;
}

void wait_for_input(const kivo::eventio::StreamReader& reader) {
  pollfd input{reader.poll_fd(), POLLIN, 0};
  if (input.fd >= 0) ::poll(&input, 1, -1);
}

// Reads the whole stream, waiting on a pipe when no data has arrived yet.
bool dump(kivo::eventio::StreamReader& reader, std::ostream& out, long long limit) {
  bool exact = true;
  int current_run = 0;
  for (long long count = 0; limit < 0 || count < limit; ++count) {
    auto event = reader.next_stream_event();
    while (!event && !reader.finished()) {
      wait_for_input(reader);
      event = reader.next_stream_event();
    }
    if (!event) break;
    const kivo::eventio::EventRecord record = event->record();
    const std::string loss = kivo::eventio::text_form_loss(record, current_run);
    if (!loss.empty()) {
      std::fprintf(stderr, "kivo-dump: %s: event %u: %s\n", reader.path().c_str(), record.sequence,
                   loss.c_str());
      exact = false;
    }
    kivo::eventio::write_text_record(out, record, current_run);
  }
  return exact;
}

// A text file written under a temporary name beside its path and renamed
// into place by commit(), so an interrupted or failed dump leaves no half file.
// A device, pipe or symbolic link is written in place.
class OutputFile {
 public:
  // False with `error` naming the path and the reason when it cannot be created.
  bool open(const std::string& path, std::string& error) {
    path_ = path;
    if (!kivo::eventio::replaceable_by_rename(path)) {
      stream_.open(path, std::ios::binary | std::ios::trunc);
      if (!stream_) error = path + ": " + std::strerror(errno);
      return static_cast<bool>(stream_);
    }
    temporary_ = path + ".partial-XXXXXX";
    const int fd = ::mkostemp(temporary_.data(), O_CLOEXEC);
    if (fd < 0) {
      error = path + ": " + std::strerror(errno);
      temporary_.clear();
      return false;
    }
    ::fchmod(fd, 0644);
    ::close(fd);
    stream_.open(temporary_, std::ios::binary | std::ios::trunc);
    if (!stream_) {
      error = path + ": cannot write";
      return false;
    }
    return true;
  }
  ~OutputFile() {
    if (!temporary_.empty()) ::unlink(temporary_.c_str());
  }
  std::ostream& stream() { return stream_; }
  // Closes the file and renames it over the path; false on a write error.
  bool commit() {
    stream_.close();
    if (!stream_) return false;
    if (temporary_.empty()) return true;
    if (::rename(temporary_.c_str(), path_.c_str()) != 0) return false;
    temporary_.clear();
    return true;
  }

 private:
  std::string path_;
  std::string temporary_;
  std::ofstream stream_;
};

}  // namespace

int main(int argc, char** argv) {
  Arguments args;
  if (const int status = parse_arguments(argc, argv, args); status >= 0) return status;
  std::string error;
  auto reader = kivo::eventio::StreamReader::open(args.input, false, error);
  if (!reader) {
    std::fprintf(stderr, "kivo-dump: %s\n", error.c_str());
    return 1;
  }
  OutputFile file;
  if (args.output != "-" && !file.open(args.output, error)) {
    std::fprintf(stderr, "kivo-dump: %s\n", error.c_str());
    return 1;
  }
  std::ostream& out = args.output == "-" ? std::cout : file.stream();
  const bool exact = dump(*reader, out, args.limit);
  out.flush();
  if (!out || (args.output != "-" && !file.commit())) {
    std::fprintf(stderr, "kivo-dump: %s: write error\n", args.output.c_str());
    return 1;
  }
  return exact && reader->counters().records_rejected == 0 ? 0 : 1;
}
