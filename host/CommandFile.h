// A command file run with -x or .x: a regular file, read line by line with the
// prompt's line-length limit and a limit on its total size, so that neither a
// named pipe without a writer nor an endless device can hold up or exhaust kivo.
#ifndef KIVO_HOST_COMMAND_FILE_H
#define KIVO_HOST_COMMAND_FILE_H

#include <cstddef>
#include <optional>
#include <string>

namespace kivo::host {

class CommandFile {
 public:
  static constexpr std::size_t kMaxBytes = std::size_t{16} << 20;

  CommandFile() = default;
  ~CommandFile();
  CommandFile(const CommandFile&) = delete;
  CommandFile& operator=(const CommandFile&) = delete;

  // Empty when `path` opens as a command file, otherwise why not.
  std::string open(const std::string& path);
  // The next line without its end, nullopt at the end of the file or when the
  // file cannot be read on; problem() then tells which.
  std::optional<std::string> next_line();
  // Empty at a clean end, otherwise "line N ..." saying what went wrong.
  const std::string& problem() const { return problem_; }

 private:
  // Reads more of the file; false at its end or on a problem.
  bool read_more();
  std::optional<std::string> fail(const std::string& problem);

  int fd_ = -1;
  std::string pending_;
  std::size_t total_ = 0;
  int line_ = 0;
  bool ended_ = false;
  std::string problem_;
};

}  // namespace kivo::host

#endif
