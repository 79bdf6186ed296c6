// CRC-32C (Castagnoli, reflected polynomial 0x82F63B78, initial value and final
// xor 0xFFFFFFFF). Uses the SSE4.2 crc32 instruction when the processor has it.
#ifndef KIVO_EVENTIO_CRC32C_H
#define KIVO_EVENTIO_CRC32C_H

#include <cstddef>
#include <cstdint>

namespace kivo::eventio {

std::uint32_t crc32c(const void* data, std::size_t size);

}  // namespace kivo::eventio

#endif
