// An output file that appears whole or not at all, alone or together with
// others. A new or regular file is written to a temporary beside it (see
// TemporaryFiles.h for the naming rule) and renamed over it by a commit;
// without a successful commit nothing appears and the temporary is removed,
// also on a signal once remove_partial_output_on_signal() has been called.
// A symbolic link is followed: the file it leads to is replaced and the link
// stays. Devices and pipes are written in place, as is standard output: a
// rename would replace them instead of writing to them; an output that must
// not wait for a reader refuses them instead (SpecialFiles::refuse).
#ifndef KIVO_EVENTIO_OUTPUT_FILE_H
#define KIVO_EVENTIO_OUTPUT_FILE_H

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "TemporaryFiles.h"

namespace kivo::eventio {

class OutputFile {
 public:
  // What open() does with a path that leads to a device, a pipe or a socket:
  // write to it (a pipe without a reader then waits for one), or refuse it
  // with an error naming what it is.
  enum class SpecialFiles { write_in_place, refuse };

  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // False with `error` ("<file>: <reason>") when the file cannot be created.
  // Stale temporaries of the same file are removed first.
  bool open(const std::string& path, std::string& error, SpecialFiles special = SpecialFiles::write_in_place);
  // Writes to standard output, named "-" in messages.
  void open_standard_output();
  // Writes all of `data`; false with `error` ("<file>: <reason>").
  bool write(std::string_view data, std::string& error);
  // The same at `offset` from the file's start, for a writer that goes back
  // to fill in a header.
  bool write_at(std::uint64_t offset, std::string_view data, std::string& error);
  // Commits from now on reach the disk before they return: the content is
  // flushed before the rename, the directory after it, so that a power cut
  // leaves the old file or the whole new one.
  void make_durable() { durable_ = true; }
  // Closes the file and puts it in place; false with `error` ("<file>: <reason>").
  bool commit(std::string& error);
  // The same, but only while no file is in that place: when another writer
  // has put one there, it stays, this one's temporary is removed and `taken`
  // is true. Devices and pipes, written in place, are committed as above.
  bool commit_as_new(std::string& error, bool& taken);
  // After commit_as_new found its place taken: the temporary, which stays,
  // is to be put at `path` instead (a new file in the same directory).
  void retarget(const std::string& path);

  // The path as given to open().
  const std::string& path() const { return path_; }
  // The file written: the path, or the file its symbolic link leads to.
  const std::string& file() const { return file_; }
  // The descriptor the content goes to, for a writer in another process.
  int descriptor() const { return fd_; }

 private:
  friend bool commit_together(std::initializer_list<OutputFile*> outputs, std::string& error);

  bool fail(std::string& error, int error_number);
  bool close(std::string& error);
  // The temporary was renamed or removed: a signal no longer removes it.
  void forget_temporary();
  bool replaces_file() const { return !temporary_.empty(); }
  // Flushes the directory of the file to disk when durable.
  bool sync_directory(std::string& error);

  std::string path_;
  std::string file_;
  std::string temporary_;  // empty when written in place
  RegisteredTemporary registration_;
  int fd_ = -1;
  bool durable_ = false;
};

// Puts every output in place, in the order given, or none of them: when one
// cannot be put in place, those before it get their previous content back
// (or are removed when they did not exist), every temporary is removed and
// `error` names the file and the reason. Signals wait until it is done.
bool commit_together(std::initializer_list<OutputFile*> outputs, std::string& error);

// For command-line tools, called once at start-up before any thread starts:
// SIGINT, SIGTERM and SIGHUP, each unless ignored at start-up, remove the
// temporaries being written and then end the program as the signal does by
// default, so the caller sees the usual status.
void remove_partial_output_on_signal();

// Empty unless `path` (its symbolic links followed) is a pipe, a device or a
// socket; then why an output refusing special files refuses it ("is a named
// pipe; only a regular file is written").
std::string special_file_problem(const std::string& path);

// Empty when writing `output` cannot destroy `input`; otherwise a message naming
// both: they are one existing regular file or block device, also when reached
// through a symbolic or hard link. "-" is standard input or output.
std::string output_overwrites_input(const std::string& input, const std::string& output);

}  // namespace kivo::eventio

#endif
