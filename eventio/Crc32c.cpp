#include "Crc32c.h"

#include <array>
#include <cstring>

#if defined(__x86_64__)
#include <nmmintrin.h>
#endif

namespace kivo::eventio {
namespace {

constexpr std::uint32_t kReflectedPolynomial = 0x82F63B78u;

constexpr std::array<std::uint32_t, 256> make_table() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t byte = 0; byte < 256; ++byte) {
    std::uint32_t crc = byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ ((crc & 1u) ? kReflectedPolynomial : 0u);
    table[byte] = crc;
  }
  return table;
}

constexpr auto kTable = make_table();

std::uint32_t update_with_table(std::uint32_t crc, const unsigned char* p, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) crc = kTable[(crc ^ p[i]) & 0xFFu] ^ (crc >> 8);
  return crc;
}

#if defined(__x86_64__)
__attribute__((target("sse4.2"))) std::uint32_t update_with_sse42(std::uint32_t crc,
                                                                  const unsigned char* p,
                                                                  std::size_t size) {
  std::uint64_t crc64 = crc;
  for (; size >= 8; size -= 8, p += 8) {
    std::uint64_t chunk;
    std::memcpy(&chunk, p, 8);
    crc64 = _mm_crc32_u64(crc64, chunk);
  }
  crc = static_cast<std::uint32_t>(crc64);
  for (; size > 0; --size, ++p) crc = _mm_crc32_u8(crc, *p);
  return crc;
}

bool processor_has_sse42() {
  static const bool has = __builtin_cpu_supports("sse4.2");
  return has;
}
#endif

}  // namespace

std::uint32_t crc32c(const void* data, std::size_t size) {
  const auto* p = static_cast<const unsigned char*>(data);
#if defined(__x86_64__)
  if (processor_has_sse42()) return ~update_with_sse42(0xFFFFFFFFu, p, size);
#endif
  return ~update_with_table(0xFFFFFFFFu, p, size);
}

}  // namespace kivo::eventio
