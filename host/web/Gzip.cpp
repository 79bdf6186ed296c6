#include "Gzip.h"

#include <zlib.h>

#include <cctype>
#include <cstdlib>
#include <limits>

namespace kivo::web {

namespace {

constexpr int kGzipWindowBits = 15 + 16;  // zlib's window, gzip header and trailer
constexpr int kMemoryLevel = 8;

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return text;
}

bool case_equal(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

// "gzip;q=0.5" accepts, "gzip;q=0" refuses.
bool coding_accepts_gzip(std::string_view coding) {
  const auto semicolon = coding.find(';');
  if (!case_equal(trimmed(coding.substr(0, semicolon)), "gzip")) return false;
  if (semicolon == std::string_view::npos) return true;
  std::string_view parameter = trimmed(coding.substr(semicolon + 1));
  if (parameter.size() < 2 || std::tolower(static_cast<unsigned char>(parameter[0])) != 'q' || parameter[1] != '=')
    return true;
  return std::strtod(std::string(parameter.substr(2)).c_str(), nullptr) > 0;
}

}  // namespace

std::string gzip(std::string_view text, int level) {
  if (text.size() > std::numeric_limits<uInt>::max()) return {};
  z_stream stream{};
  if (deflateInit2(&stream, level, Z_DEFLATED, kGzipWindowBits, kMemoryLevel, Z_DEFAULT_STRATEGY) != Z_OK)
    return {};
  std::string out(deflateBound(&stream, static_cast<uLong>(text.size())) + 32, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  stream.avail_in = static_cast<uInt>(text.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  const int status = deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return status == Z_STREAM_END ? out : std::string();
}

bool accepts_gzip(const char* accept_encoding) {
  if (accept_encoding == nullptr) return false;
  std::string_view list(accept_encoding);
  while (!list.empty()) {
    const auto comma = list.find(',');
    if (coding_accepts_gzip(list.substr(0, comma))) return true;
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  return false;
}

}  // namespace kivo::web
