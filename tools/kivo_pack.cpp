// kivo-pack: turns the text form of events into a stream file.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <istream>
#include <optional>
#include <streambuf>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "OutputFile.h"
#include "StreamWriter.h"
#include "TextFormat.h"

namespace {

constexpr const char* kAbout =
    "usage: kivo-pack [-o OUTPUT] [INPUT [OUTPUT]]\n"
    "Reads events in the text form from INPUT (a file, or - for standard input, the\n"
    "default) and writes them as a KIVO stream to OUTPUT (a file, written atomically,\n"
    "or - for standard output, the default, refused when it is a terminal). On a\n"
    "bad line it names the line, on a failed read the reason, and writes nothing.\n"
    "The text form is described in docs/stream-format.md.\n";

constexpr const char* kNotes =
    "Exit status: 0 when the stream was written, 1 on a bad line or when the input\n"
    "cannot be read (standard input too) or the output written, 2 on a usage error,\n"
    "also when OUTPUT is the INPUT file itself (through a link too).\n";

// Text read through a file descriptor, keeping the reason of a failed read:
// std::cin takes a read error for the end of the input, and std::ifstream
// drops its reason.
class DescriptorBuffer final : public std::streambuf {
 public:
  explicit DescriptorBuffer(int fd) : fd_(fd) {}
  // errno of the read that failed, 0 when none did.
  int error() const { return error_; }

 protected:
  int_type underflow() override {
    ssize_t n = 0;
    while ((n = ::read(fd_, buffer_.data(), buffer_.size())) < 0 && (errno == EINTR || errno == EAGAIN))
      if (errno == EAGAIN) wait_readable();  // a non-blocking standard input
    if (n <= 0) {
      error_ = n < 0 ? errno : 0;
      return traits_type::eof();
    }
    setg(buffer_.data(), buffer_.data(), buffer_.data() + n);
    return traits_type::to_int_type(buffer_[0]);
  }

 private:
  void wait_readable() const {
    pollfd readable{fd_, POLLIN, 0};
    ::poll(&readable, 1, -1);
  }

  int fd_;
  int error_ = 0;
  std::array<char, 1 << 16> buffer_;
};

// The descriptor of INPUT, standard input for "-"; -1 with errno when it cannot
// be opened. A directory opens like a file and then fails to read; it is named
// as what it is.
int open_input(const std::string& input) {
  if (input == "-") return STDIN_FILENO;
  const int fd = ::open(input.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat info {};
  if (fd >= 0 && ::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
    ::close(fd);
    errno = EISDIR;
    return -1;
  }
  return fd;
}

bool read_records(const std::string& input, std::vector<kivo::eventio::EventRecord>& records) {
  const int fd = open_input(input);
  if (fd < 0) {
    std::fprintf(stderr, "kivo-pack: %s: %s\n", input.c_str(), std::strerror(errno));
    return false;
  }
  DescriptorBuffer buffer(fd);
  std::istream text(&buffer);
  std::string error;
  const bool parsed = kivo::eventio::parse_text(text, records, error);
  if (fd != STDIN_FILENO) ::close(fd);
  // A failed read comes first: the line it cut short is no fault of the text.
  if (buffer.error() != 0)
    error = std::string("read error: ") + std::strerror(buffer.error());
  else if (parsed)
    return true;
  std::fprintf(stderr, "kivo-pack: %s: %s\n", input == "-" ? "standard input" : input.c_str(), error.c_str());
  return false;
}

bool write_records(const std::string& output, const std::vector<kivo::eventio::EventRecord>& records) {
  std::string error;
  auto writer = kivo::eventio::StreamWriter::open(output, error);
  if (!writer) {
    std::fprintf(stderr, "kivo-pack: %s\n", error.c_str());
    return false;
  }
  for (const auto& record : records)
    if (!writer->write(record)) break;
  if (!writer->close(error)) {
    std::fprintf(stderr, "kivo-pack: %s\n", error.c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  kivo::eventio::remove_partial_output_on_signal();
  kivo::eventio::CommandLine line("kivo-pack", kAbout, kNotes);
  kivo::eventio::FilterFiles files;
  files.add_output_option(line);
  if (const std::optional<int> status = files.parse_for_main(line, argc, argv)) return *status;
  std::vector<kivo::eventio::EventRecord> records;
  if (!read_records(files.input, records)) return 1;
  return write_records(files.output, records) ? 0 : 1;
}
