// ROOT's compression of key payloads: zlib streams in blocks of at most
// 0xffffff input bytes, each behind a 9-byte header ("ZL", method, then the
// compressed and uncompressed block sizes in three little-endian bytes).
#ifndef ROOTCOMPAT_ROOTCOMPRESSION_H
#define ROOTCOMPAT_ROOTCOMPRESSION_H

#include <string>
#include <string_view>

#include "RtypesCore.h"

namespace rootcompat {

// Compression settings as ROOT writes them: algorithm * 100 + level. ROOT's
// own default for zlib is level 1.
constexpr Int_t kZlibAlgorithm = 1;
constexpr Int_t kDefaultCompression = kZlibAlgorithm * 100 + 1;

// The payload compressed with zlib at `level` into `out`, as ROOT stores it.
// False, with `out` empty, when the payload is to be stored as it is: level 0,
// a payload of 256 bytes or less, or a block that does not shrink.
bool CompressPayload(std::string_view payload, Int_t level, std::string& out);

}  // namespace rootcompat

#endif
