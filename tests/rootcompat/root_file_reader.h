// A reader of ROOT files for the tests, written from ROOT's documentation of
// the format and independent of the writer: header, top directory, keys,
// payloads (inflating "ZL" blocks) and the class descriptions. Anything
// malformed throws std::runtime_error naming what.
#ifndef KIVO_TESTS_ROOT_FILE_READER_H
#define KIVO_TESTS_ROOT_FILE_READER_H

#include <cstdint>
#include <string>
#include <vector>

namespace rootfile_test {

struct Header {
  std::int32_t version = 0;
  std::int32_t begin = 0;
  std::int64_t end = 0;
  std::int64_t seekFree = 0;
  std::int32_t nbytesFree = 0;
  std::int32_t nfree = 0;
  std::int32_t nbytesName = 0;
  int units = 0;
  std::int32_t compress = 0;
  std::int64_t seekInfo = 0;
  std::int32_t nbytesInfo = 0;
};

struct Directory {
  int version = 0;
  std::int32_t nbytesKeys = 0;
  std::int32_t nbytesName = 0;
  std::int64_t seekDir = 0;
  std::int64_t seekParent = 0;
  std::int64_t seekKeys = 0;
};

struct Key {
  std::int32_t nbytes = 0;
  int version = 0;
  std::int32_t objlen = 0;
  std::uint32_t datime = 0;
  int keylen = 0;
  int cycle = 0;
  std::int64_t seekKey = 0;
  std::int64_t seekPdir = 0;
  std::string className;
  std::string name;
  std::string title;
};

struct Element {
  std::string elementClass;  // TStreamerBase, TStreamerBasicType, ...
  std::string name;
  std::string title;
  int type = 0;
  int size = 0;
  int arrayLength = 0;
  int arrayDim = 0;
  std::vector<int> maxIndex;
  std::string typeName;
  int baseVersion = 0;
  int countVersion = 0;
  std::string countName;
  std::string countClass;
  bool operator==(const Element&) const = default;
};

struct ClassInfo {
  std::string name;
  std::uint32_t checksum = 0;
  int version = 0;
  std::vector<Element> elements;
};

struct FreeSegment {
  int version = 0;
  std::int64_t first = 0;
  std::int64_t last = 0;
};

class Reader {
 public:
  explicit Reader(std::string bytes);
  static Reader FromFile(const std::string& path);

  const Header& header() const { return header_; }
  const Directory& directory() const { return directory_; }
  // The directory's keys, in the order of its keys list.
  const std::vector<Key>& keys() const { return keys_; }
  Key KeyAt(std::int64_t offset) const;
  const Key& Find(const std::string& name) const;
  // The key's object bytes, inflated.
  std::string Payload(const Key& key) const;
  // Compressed blocks of the key's payload (0 when stored as it is), each
  // checked to hold at most 0xffffff bytes.
  int Blocks(const Key& key) const;
  std::vector<ClassInfo> StreamerInfos() const;
  FreeSegment Free() const;

 private:
  std::string bytes_;
  Header header_;
  Directory directory_;
  std::vector<Key> keys_;
};

}  // namespace rootfile_test

#endif
