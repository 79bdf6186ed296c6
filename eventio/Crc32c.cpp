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

// The CRC register update without the initial and final inversion; it is
// linear in the register, which is what lets lanes be combined below.
constexpr std::uint32_t update_with_table(std::uint32_t crc, const unsigned char* p, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) crc = kTable[(crc ^ p[i]) & 0xFFu] ^ (crc >> 8);
  return crc;
}

// The register after `Bytes` zero bytes, as a function of the register before:
// linear, so four tables of its values on single bytes apply it.
template <std::size_t Bytes>
struct ZeroShift {
  std::array<std::array<std::uint32_t, 256>, 4> table{};

  constexpr ZeroShift() {
    const std::array<unsigned char, Bytes> zeros{};
    std::array<std::uint32_t, 32> of_bit{};
    for (int bit = 0; bit < 32; ++bit) of_bit[bit] = update_with_table(1u << bit, zeros.data(), Bytes);
    for (int lane = 0; lane < 4; ++lane)
      for (std::uint32_t byte = 0; byte < 256; ++byte)
        for (int bit = 0; bit < 8; ++bit)
          if (byte >> bit & 1u) table[lane][byte] ^= of_bit[lane * 8 + bit];
  }

  std::uint32_t operator()(std::uint32_t crc) const {
    return table[0][crc & 0xFFu] ^ table[1][crc >> 8 & 0xFFu] ^ table[2][crc >> 16 & 0xFFu] ^
           table[3][crc >> 24];
  }
};

#if defined(__x86_64__)
// The crc32 instruction has a latency of three cycles and a throughput of one,
// so three independent lanes over adjacent blocks keep it busy; the lanes are
// then joined by shifting the earlier ones over the bytes that follow them.
template <std::size_t Block>
__attribute__((target("sse4.2"))) std::uint32_t update_three_lanes(std::uint32_t crc,
                                                                   const unsigned char*& p,
                                                                   std::size_t& size) {
  static constexpr ZeroShift<Block> shift;
  for (; size >= 3 * Block; size -= 3 * Block, p += 3 * Block) {
    std::uint64_t a = crc, b = 0, c = 0;
    for (std::size_t i = 0; i < Block; i += 8) {
      std::uint64_t wa, wb, wc;
      std::memcpy(&wa, p + i, 8);
      std::memcpy(&wb, p + Block + i, 8);
      std::memcpy(&wc, p + 2 * Block + i, 8);
      a = _mm_crc32_u64(a, wa);
      b = _mm_crc32_u64(b, wb);
      c = _mm_crc32_u64(c, wc);
    }
    crc = shift(shift(static_cast<std::uint32_t>(a)) ^ static_cast<std::uint32_t>(b)) ^
          static_cast<std::uint32_t>(c);
  }
  return crc;
}

__attribute__((target("sse4.2"))) std::uint32_t update_with_sse42(std::uint32_t crc,
                                                                  const unsigned char* p,
                                                                  std::size_t size) {
  crc = update_three_lanes<1024>(crc, p, size);
  crc = update_three_lanes<64>(crc, p, size);
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
