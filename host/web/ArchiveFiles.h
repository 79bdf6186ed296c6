// The run files of the archive directory over HTTP, as JSROOT reads ROOT
// files: by byte ranges (RFC 9110), several at once as multipart/byteranges.
//
//   /archive/NAME   a run file (run<N>.root, run<N>_<K>.root) directly inside the
//                   archive directory, a regular file and not a link; NAME is
//                   the whole decoded path after the prefix (RequestHead.h);
//                   anything else is 404.
#ifndef KIVO_HOST_WEB_ARCHIVE_FILES_H
#define KIVO_HOST_WEB_ARCHIVE_FILES_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct mg_connection;

namespace kivo::web {

inline constexpr std::string_view kArchivePrefix = "/archive/";

// Bytes first..last (both included) of a file.
struct ByteRange {
  std::uint64_t first;
  std::uint64_t last;
};

enum class RangeAnswer { whole, partial, unsatisfiable };

// What a Range header (null when absent) asks of a file of `size` bytes: the
// whole file (no header, another unit, a malformed or abusive one: ignored as
// RFC 9110 allows), the `ranges` (clamped to the file, in the order asked),
// or none of it.
RangeAnswer parse_ranges(const char* header, std::uint64_t size, std::vector<ByteRange>& ranges);

// The run file `name` of `directory` opened for reading, or -1 when none is
// served by that name: not a run file's name, or not a regular file directly
// inside `directory` (a link, a named pipe or a device is refused at once,
// and logged once).
int open_archive_file(const std::string& directory, std::string_view name);

// The path of run file `name` in `directory` when open_archive_file would
// serve it, for readers that open it by path (the ROOT protocol's folders
// of archived runs); empty otherwise.
std::string archive_file_path(const std::string& directory, std::string_view name);

// Answers GET or HEAD of /archive/NAME; returns the status sent.
int send_archive_file(mg_connection* connection, const std::string& directory, std::string_view name, bool head);

}  // namespace kivo::web

#endif
