#include "ArchiveFiles.h"

#include <civetweb.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <optional>
#include <random>

#include "ArchiveListing.h"
#include "HttpExchange.h"
#include "RegularFiles.h"

namespace kivo::web {

namespace {

// More ranges than this in one request, or more bytes than twice the file,
// and the whole file is sent instead.
constexpr std::size_t kMaxRanges = 256;
constexpr std::size_t kChunk = 64 * 1024;

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

std::optional<std::uint64_t> digits(std::string_view text) {
  std::uint64_t value = 0;
  if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return std::nullopt;
  const auto [end, status] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (status != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// One range-spec; false when malformed. `satisfiable` tells whether it
// covers any byte of the file, `range` is then that part.
bool parse_spec(std::string_view spec, std::uint64_t size, ByteRange& range, bool& satisfiable) {
  const std::size_t dash = spec.find('-');
  if (dash == std::string_view::npos) return false;
  const std::string_view from = spec.substr(0, dash), to = spec.substr(dash + 1);
  if (from.empty()) {  // the last N bytes
    const std::optional<std::uint64_t> suffix = digits(to);
    if (!suffix) return false;
    satisfiable = *suffix > 0 && size > 0;
    range = {size - std::min(*suffix, size), size - 1};
    return true;
  }
  const std::optional<std::uint64_t> first = digits(from);
  const std::optional<std::uint64_t> last = to.empty() ? std::optional<std::uint64_t>(UINT64_MAX) : digits(to);
  if (!first || !last || *last < *first) return false;
  satisfiable = *first < size;
  range = {*first, std::min(*last, size - 1)};
  return true;
}

bool is_bytes_unit(std::string_view unit) {
  return unit.size() == 5 && std::equal(unit.begin(), unit.end(), "bytes", [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) == b;
         });
}

std::string content_range(const ByteRange& range, std::uint64_t size) {
  return "bytes " + std::to_string(range.first) + "-" + std::to_string(range.last) + "/" + std::to_string(size);
}

std::uint64_t length(const ByteRange& range) { return range.last - range.first + 1; }

// Sends bytes first..last of `fd`; false when the file or the client fails.
bool send_bytes(mg_connection* connection, int fd, const ByteRange& range) {
  std::vector<char> chunk(kChunk);
  for (std::uint64_t offset = range.first; offset <= range.last;) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), range.last - offset + 1));
    const ssize_t got = ::pread(fd, chunk.data(), want, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0 || mg_write(connection, chunk.data(), static_cast<std::size_t>(got)) <= 0) return false;
    offset += static_cast<std::uint64_t>(got);
  }
  return true;
}

std::string new_boundary() {
  static constexpr char kAlphabet[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  std::random_device device;
  std::string boundary = "KIVO-";
  for (int i = 0; i < 24; ++i) boundary += kAlphabet[device() % (sizeof kAlphabet - 1)];
  return boundary;
}

int send_multipart(mg_connection* connection, int fd, const std::vector<ByteRange>& ranges, std::uint64_t size,
                   bool head) {
  const std::string boundary = new_boundary();
  std::vector<std::string> heads;
  std::uint64_t total = 0;
  for (const ByteRange& range : ranges) {
    heads.push_back("\r\n--" + boundary + "\r\nContent-Type: application/octet-stream\r\nContent-Range: " +
                    content_range(range, size) + "\r\n\r\n");
    total += heads.back().size() + length(range);
  }
  const std::string tail = "\r\n--" + boundary + "--\r\n";
  total += tail.size();
  send_head(connection, 206, "multipart/byteranges; boundary=" + boundary, static_cast<std::size_t>(total),
            "Accept-Ranges: bytes\r\nCache-Control: no-cache\r\n");
  if (head) return 206;
  for (std::size_t i = 0; i < ranges.size(); ++i) {
    if (mg_write(connection, heads[i].data(), heads[i].size()) <= 0 || !send_bytes(connection, fd, ranges[i]))
      return 206;
  }
  mg_write(connection, tail.data(), tail.size());
  return 206;
}

int send_ranges(mg_connection* connection, int fd, std::uint64_t size, bool head) {
  std::vector<ByteRange> ranges;
  switch (parse_ranges(mg_get_header(connection, "Range"), size, ranges)) {
    case RangeAnswer::unsatisfiable:
      return send_error(connection, 416, "range not satisfiable",
                        "Content-Range: bytes */" + std::to_string(size) + "\r\n");
    case RangeAnswer::whole:
      send_head(connection, 200, "application/octet-stream", static_cast<std::size_t>(size),
                "Accept-Ranges: bytes\r\nCache-Control: no-cache\r\n");
      if (!head && size > 0) send_bytes(connection, fd, {0, size - 1});
      return 200;
    case RangeAnswer::partial:
      break;
  }
  if (ranges.size() > 1) return send_multipart(connection, fd, ranges, size, head);
  send_head(connection, 206, "application/octet-stream", static_cast<std::size_t>(length(ranges[0])),
            "Accept-Ranges: bytes\r\nCache-Control: no-cache\r\nContent-Range: " + content_range(ranges[0], size) +
                "\r\n");
  if (!head) send_bytes(connection, fd, ranges[0]);
  return 206;
}

}  // namespace

RangeAnswer parse_ranges(const char* header, std::uint64_t size, std::vector<ByteRange>& ranges) {
  ranges.clear();
  if (header == nullptr) return RangeAnswer::whole;
  const std::string_view text(header);
  const std::size_t equals = text.find('=');
  if (equals == std::string_view::npos || !is_bytes_unit(trimmed(text.substr(0, equals)))) return RangeAnswer::whole;
  std::string_view specs = text.substr(equals + 1);
  std::uint64_t asked = 0;
  bool any_spec = false;
  while (!specs.empty()) {
    const std::size_t comma = specs.find(',');
    const std::string_view spec = trimmed(specs.substr(0, comma));
    specs = comma == std::string_view::npos ? std::string_view() : specs.substr(comma + 1);
    if (spec.empty()) continue;
    ByteRange range{};
    bool satisfiable = false;
    if (!parse_spec(spec, size, range, satisfiable)) {
      ranges.clear();
      return RangeAnswer::whole;
    }
    any_spec = true;
    if (!satisfiable) continue;
    ranges.push_back(range);
    asked += length(range);
    if (ranges.size() > kMaxRanges || asked > 2 * size) {
      ranges.clear();
      return RangeAnswer::whole;
    }
  }
  if (!any_spec) return RangeAnswer::whole;
  return ranges.empty() ? RangeAnswer::unsatisfiable : RangeAnswer::partial;
}

// Named as a run file, the name opened as written in the directory: a link
// is refused, whether it leads out of the archive or not, as the listing
// leaves links out.
int open_archive_file(const std::string& directory, std::string_view name) {
  if (!is_run_file_name(std::string(name))) return -1;
  std::string problem;
  const int fd = open_regular_file_in(directory, std::string(name), problem);
  if (fd < 0 && problem != std::strerror(ENOENT))
    log_once("archive: " + directory + "/" + std::string(name) + " " + problem + ": not served");
  return fd;
}

std::string archive_file_path(const std::string& directory, std::string_view name) {
  const int fd = open_archive_file(directory, name);
  if (fd < 0) return {};
  ::close(fd);
  return directory + "/" + std::string(name);
}

int send_archive_file(mg_connection* connection, const std::string& directory, std::string_view name, bool head) {
  const int fd = open_archive_file(directory, name);
  struct stat info {};
  if (fd < 0 || ::fstat(fd, &info) != 0) {
    if (fd >= 0) ::close(fd);
    return send_error(connection, 404, "not found");
  }
  const int status = send_ranges(connection, fd, static_cast<std::uint64_t>(info.st_size), head);
  ::close(fd);
  return status;
}

}  // namespace kivo::web
