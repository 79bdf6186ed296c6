#include "StandardStreams.h"

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <iostream>

namespace kivo::host {

namespace {

bool failed(std::FILE* stream, std::ostream& standard_stream) {
  const bool flush_failed = std::fflush(stream) != 0;
  return flush_failed || std::ferror(stream) != 0 || standard_stream.bad();
}

// Further writes go nowhere, at the cost of none: the reader is gone.
void silence(int fd, std::FILE* stream, std::ostream& standard_stream) {
  const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null >= 0) {
    ::dup2(null, fd);
    ::close(null);
  }
  std::clearerr(stream);
  standard_stream.clear();
}

bool cut_once(bool& known, int fd, std::FILE* stream, std::ostream& standard_stream) {
  if (!known && failed(stream, standard_stream)) {
    known = true;
    silence(fd, stream, standard_stream);
  }
  return known;
}

}  // namespace

void ignore_broken_pipes() { std::signal(SIGPIPE, SIG_IGN); }

std::string cut_standard_streams() {
  static bool output_cut = false, error_cut = false;
  const bool output = cut_once(output_cut, STDOUT_FILENO, stdout, std::cout);
  const bool error = cut_once(error_cut, STDERR_FILENO, stderr, std::cerr);
  if (output && error) return "standard output and standard error";
  if (output) return "standard output";
  return error ? "standard error" : "";
}

std::string cut_output_message(const std::string& cut) {
  return "kivo: " + cut + " closed or failed before the end (its reader gone?): what was written to it " +
         "after that is lost; the processing went on to the end all the same\n";
}

}  // namespace kivo::host
