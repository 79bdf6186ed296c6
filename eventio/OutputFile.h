// An output file that appears whole or not at all. A new or regular file is
// written to a temporary file beside its path and renamed over it by commit();
// without a successful commit nothing appears and the temporary is removed,
// also on a signal once remove_partial_output_on_signal() has been called.
// Devices, pipes and symbolic links are written in place, as is standard
// output: a rename would replace them instead of writing to them.
#ifndef KIVO_EVENTIO_OUTPUT_FILE_H
#define KIVO_EVENTIO_OUTPUT_FILE_H

#include <string>
#include <string_view>

namespace kivo::eventio {

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // False with `error` ("<path>: <reason>") when the file cannot be created.
  bool open(const std::string& path, std::string& error);
  // Writes to standard output, named "-" in messages.
  void open_standard_output();
  // Writes all of `data`; false with `error` ("<path>: <reason>").
  bool write(std::string_view data, std::string& error);
  // Closes the file and puts it in place; false with `error` ("<path>: <reason>").
  bool commit(std::string& error);

  const std::string& path() const { return path_; }

 private:
  bool fail(std::string& error, int error_number);
  // The temporary was renamed or removed: a signal no longer removes it.
  void forget_temporary();

  std::string path_;
  std::string temporary_;  // empty when written in place
  bool removed_on_signal_ = false;
  int fd_ = -1;
};

// For command-line tools, called once at start-up before any thread starts:
// SIGINT, SIGTERM and SIGHUP, each unless ignored at start-up, remove the
// temporary of the OutputFile being written (the first one opened while no
// other is) and then end the program as the signal does by default, so the
// caller sees the usual status.
void remove_partial_output_on_signal();

// Empty when writing `output` cannot destroy `input`; otherwise a message naming
// both: they are one existing regular file or block device, also when reached
// through a symbolic or hard link. "-" is standard input or output.
std::string output_overwrites_input(const std::string& input, const std::string& output);

}  // namespace kivo::eventio

#endif
