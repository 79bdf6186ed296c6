// The table of contents of a ROOT file: its title and its keys (class, name,
// title, cycle, sizes), read from the header, the top directory and the keys
// list alone, without inflating or decoding any object. Enough to list what a
// file holds and to read short facts kept in the titles of its keys.
#ifndef ROOTCOMPAT_ROOTFILEKEYS_H
#define ROOTCOMPAT_ROOTFILEKEYS_H

#include <string>
#include <vector>

#include "RootFileWriter.h"

namespace rootcompat {

struct FileKeys {
  std::string title;             // the file's (its top directory's) title
  std::vector<KeyRecord> keys;  // in the order of the keys list
};

// The longest keys list read unless the caller bounds it further.
inline constexpr Long64_t kMaxKeysListBytes = Long64_t{256} << 20;

// Reads the keys of the ROOT file `path`; false with `error` saying why
// ("not a ROOT file", "truncated", ...) when it cannot. Any bytes may be
// given: nothing is read outside the file, no length is trusted, a keys
// list longer than `maxKeysListBytes` is refused unread, and only a regular
// file is read (a named pipe is refused without waiting for a writer).
bool ReadFileKeys(const std::string& path, FileKeys& contents, std::string& error,
                  Long64_t maxKeysListBytes = kMaxKeysListBytes);

// The object bytes of `key` (one of the file's keys), inflated when stored
// compressed; false with `error` when they cannot be read.
bool ReadKeyPayload(const std::string& path, const KeyRecord& key, std::string& payload, std::string& error);

}  // namespace rootcompat

#endif
