// Files the display reads while it serves (the archive's run files, the
// password file), opened so that nothing a client or another user can put
// in their place makes a worker wait: never blocking (a named pipe with no
// writer would hold the worker until one came), and refused at once unless
// a regular file. What is refused is logged once, not at every request.
#ifndef KIVO_HOST_WEB_REGULAR_FILES_H
#define KIVO_HOST_WEB_REGULAR_FILES_H

#include <optional>
#include <string>

namespace kivo::web {

// Opens `name` inside the directory `directory` for reading: `name` itself
// must be a regular file there, not a symbolic link; -1 with `problem` set
// otherwise ("is a named pipe").
int open_regular_file_in(const std::string& directory, const std::string& name, std::string& problem);

// The whole of the regular file `path` (links followed), when it is one and
// at most `most_bytes` long; none with `problem` set otherwise.
std::optional<std::string> read_regular_file(const std::string& path, std::size_t most_bytes, std::string& problem);

// Writes "PROGRAM: message" to standard error the first time `message` is
// logged (a bounded number of different messages are remembered).
void log_once(const std::string& message);

}  // namespace kivo::web

#endif
