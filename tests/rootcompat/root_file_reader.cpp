#include "root_file_reader.h"

#include <zlib.h>

#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

namespace rootfile_test {

namespace {

constexpr std::uint32_t kByteCountMask = 0x40000000;
constexpr std::uint32_t kClassMask = 0x80000000;
constexpr std::uint32_t kNewClassTag = 0xFFFFFFFF;

// Big-endian reads from a byte string, refusing to pass its end.
class Cursor {
 public:
  Cursor(const std::string& bytes, std::size_t position) : bytes_(bytes), position_(position) {}

  std::uint64_t Unsigned(int size) {
    Need(std::size_t(size));
    std::uint64_t v = 0;
    for (int i = 0; i < size; ++i) v = v << 8 | static_cast<unsigned char>(bytes_[position_++]);
    return v;
  }
  std::int16_t I16() { return std::int16_t(Unsigned(2)); }
  std::int32_t I32() { return std::int32_t(Unsigned(4)); }
  std::uint32_t U32() { return std::uint32_t(Unsigned(4)); }
  std::int64_t I64() { return std::int64_t(Unsigned(8)); }
  int Byte() { return int(Unsigned(1)); }
  std::string String() {
    std::size_t n = std::size_t(Byte());
    if (n == 255) n = std::size_t(U32());
    Need(n);
    std::string s = bytes_.substr(position_, n);
    position_ += n;
    return s;
  }
  std::string CString() {
    const std::size_t end = bytes_.find('\0', position_);
    if (end == std::string::npos) throw std::runtime_error("unterminated class name");
    std::string s = bytes_.substr(position_, end - position_);
    position_ = end + 1;
    return s;
  }
  // A byte count and version; returns the position where the object ends.
  std::size_t Versioned(int& version) {
    const std::uint32_t count = U32();
    if (!(count & kByteCountMask)) throw std::runtime_error("object without a byte count");
    const std::size_t end = position_ + (count & ~kByteCountMask);
    version = I16();
    return end;
  }
  void SkipObjectHeader() {
    I16();
    U32();
    U32();
  }
  std::size_t position() const { return position_; }
  void Seek(std::size_t position) { position_ = position; }

 private:
  void Need(std::size_t n) const {
    if (position_ + n > bytes_.size()) throw std::runtime_error("read past the end of the data");
  }
  const std::string& bytes_;
  std::size_t position_;
};

Key ReadKey(Cursor& c) {
  Key k;
  k.nbytes = c.I32();
  k.version = c.I16();
  k.objlen = c.I32();
  k.datime = c.U32();
  k.keylen = c.I16();
  k.cycle = c.I16();
  const bool big = k.version > 1000;
  k.seekKey = big ? c.I64() : c.I32();
  k.seekPdir = big ? c.I64() : c.I32();
  k.className = c.String();
  k.name = c.String();
  k.title = c.String();
  return k;
}

std::size_t BlockSize(const std::string& p, std::size_t at) {
  return std::size_t(static_cast<unsigned char>(p[at])) | std::size_t(static_cast<unsigned char>(p[at + 1])) << 8 |
         std::size_t(static_cast<unsigned char>(p[at + 2])) << 16;
}

// Class tags resolve against the positions of names read before.
class TagReader {
 public:
  TagReader(Cursor& c, int keylen) : c_(c), keylen_(keylen) {}

  // Reads an object pointer's byte count and class tag; returns the class
  // and sets `end`. Empty for a null pointer.
  std::string Tagged(std::size_t& end) {
    const std::uint32_t count = c_.U32();
    if (count == 0) return {};
    end = c_.position() + (count & ~kByteCountMask);
    const std::size_t tagPosition = c_.position();
    const std::uint32_t tag = c_.U32();
    if (tag == kNewClassTag) {
      std::string name = c_.CString();
      classes_[std::uint32_t(tagPosition + keylen_ + 2)] = name;
      return name;
    }
    const auto known = classes_.find(tag & ~kClassMask);
    if (!(tag & kClassMask) || known == classes_.end()) throw std::runtime_error("unknown class reference");
    return known->second;
  }

 private:
  Cursor& c_;
  int keylen_;
  std::map<std::uint32_t, std::string> classes_;
};

void ReadNamed(Cursor& c, std::string& name, std::string& title) {
  int version = 0;
  const std::size_t end = c.Versioned(version);
  c.SkipObjectHeader();
  name = c.String();
  title = c.String();
  c.Seek(end);
}

Element ReadElement(Cursor& c, const std::string& elementClass) {
  Element e;
  e.elementClass = elementClass;
  int version = 0;
  const std::size_t end = c.Versioned(version);
  const std::size_t bodyEnd = c.Versioned(version);
  ReadNamed(c, e.name, e.title);
  e.type = c.I32();
  e.size = c.I32();
  e.arrayLength = c.I32();
  e.arrayDim = c.I32();
  for (int i = 0; i < 5; ++i) e.maxIndex.push_back(c.I32());
  e.typeName = c.String();
  c.Seek(bodyEnd);
  if (elementClass == "TStreamerBase") e.baseVersion = c.I32();
  if (elementClass == "TStreamerBasicPointer" || elementClass == "TStreamerLoop") {
    e.countVersion = c.I32();
    e.countName = c.String();
    e.countClass = c.String();
  }
  c.Seek(end);
  return e;
}

ClassInfo ReadStreamerInfo(Cursor& c, TagReader& tags) {
  ClassInfo info;
  int version = 0;
  const std::size_t end = c.Versioned(version);
  std::string title;
  ReadNamed(c, info.name, title);
  info.checksum = c.U32();
  info.version = c.I32();
  std::size_t arrayEnd = 0;
  if (tags.Tagged(arrayEnd) != "TObjArray") throw std::runtime_error("elements are not a TObjArray");
  c.Versioned(version);
  c.SkipObjectHeader();
  c.String();
  const int count = c.I32();
  c.I32();  // lower bound
  for (int i = 0; i < count; ++i) {
    std::size_t elementEnd = 0;
    const std::string elementClass = tags.Tagged(elementEnd);
    info.elements.push_back(ReadElement(c, elementClass));
    c.Seek(elementEnd);
  }
  c.Seek(end);
  return info;
}

}  // namespace

Reader::Reader(std::string bytes) : bytes_(std::move(bytes)) {
  if (bytes_.compare(0, 4, "root") != 0) throw std::runtime_error("not a ROOT file");
  Cursor c(bytes_, 4);
  Header& h = header_;
  h.version = c.I32();
  h.begin = c.I32();
  const bool big = h.version >= 1000000;
  h.end = big ? c.I64() : c.I32();
  h.seekFree = big ? c.I64() : c.I32();
  h.nbytesFree = c.I32();
  h.nfree = c.I32();
  h.nbytesName = c.I32();
  h.units = c.Byte();
  h.compress = c.I32();
  h.seekInfo = big ? c.I64() : c.I32();
  h.nbytesInfo = c.I32();

  Cursor d(bytes_, std::size_t(h.begin + h.nbytesName));
  Directory& dir = directory_;
  dir.version = d.I16();
  d.U32();
  d.U32();
  dir.nbytesKeys = d.I32();
  dir.nbytesName = d.I32();
  const bool bigDirectory = dir.version > 1000;
  dir.seekDir = bigDirectory ? d.I64() : d.I32();
  dir.seekParent = bigDirectory ? d.I64() : d.I32();
  dir.seekKeys = bigDirectory ? d.I64() : d.I32();

  const Key list = KeyAt(dir.seekKeys);
  Cursor k(bytes_, std::size_t(list.seekKey + list.keylen));
  const int count = k.I32();
  for (int i = 0; i < count; ++i) keys_.push_back(ReadKey(k));
}

Reader Reader::FromFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + path);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return Reader(bytes.str());
}

Key Reader::KeyAt(std::int64_t offset) const {
  Cursor c(bytes_, std::size_t(offset));
  return ReadKey(c);
}

const Key& Reader::Find(const std::string& name) const {
  for (const Key& key : keys_)
    if (key.name == name) return key;
  throw std::runtime_error("no key " + name);
}

int Reader::Blocks(const Key& key) const {
  if (key.nbytes - key.keylen == key.objlen) return 0;
  std::size_t at = std::size_t(key.seekKey + key.keylen);
  const std::size_t end = std::size_t(key.seekKey + key.nbytes);
  int blocks = 0;
  for (; at < end; ++blocks) {
    if (bytes_.compare(at, 2, "ZL") != 0 || bytes_[at + 2] != Z_DEFLATED)
      throw std::runtime_error("block without ROOT's zlib header in " + key.name);
    if (BlockSize(bytes_, at + 6) > 0xffffff) throw std::runtime_error("block too large in " + key.name);
    at += 9 + BlockSize(bytes_, at + 3);
  }
  if (at != end) throw std::runtime_error("blocks do not fill the key " + key.name);
  return blocks;
}

std::string Reader::Payload(const Key& key) const {
  const std::size_t start = std::size_t(key.seekKey + key.keylen);
  if (key.nbytes - key.keylen == key.objlen) return bytes_.substr(start, std::size_t(key.objlen));
  std::string out;
  std::size_t at = start;
  while (out.size() < std::size_t(key.objlen)) {
    const std::size_t compressed = BlockSize(bytes_, at + 3);
    uLongf size = uLongf(BlockSize(bytes_, at + 6));
    std::string block(size, '\0');
    if (uncompress(reinterpret_cast<Bytef*>(block.data()), &size,
                   reinterpret_cast<const Bytef*>(bytes_.data() + at + 9), uLong(compressed)) != Z_OK)
      throw std::runtime_error("cannot inflate " + key.name);
    out += block;
    at += 9 + compressed;
  }
  if (out.size() != std::size_t(key.objlen)) throw std::runtime_error("wrong inflated size of " + key.name);
  return out;
}

std::vector<ClassInfo> Reader::StreamerInfos() const {
  const Key key = KeyAt(header_.seekInfo);
  const std::string payload = Payload(key);
  Cursor c(payload, 0);
  TagReader tags(c, key.keylen);
  int version = 0;
  c.Versioned(version);
  c.SkipObjectHeader();
  c.String();
  const int count = c.I32();
  std::vector<ClassInfo> infos;
  for (int i = 0; i < count; ++i) {
    std::size_t end = 0;
    if (tags.Tagged(end) != "TStreamerInfo") throw std::runtime_error("not a TStreamerInfo");
    infos.push_back(ReadStreamerInfo(c, tags));
    c.Seek(end);
    c.String();  // option
  }
  return infos;
}

FreeSegment Reader::Free() const {
  const Key key = KeyAt(header_.seekFree);
  const std::string payload = Payload(key);
  Cursor c(payload, 0);
  FreeSegment segment;
  segment.version = c.I16();
  segment.first = segment.version > 1000 ? c.I64() : c.I32();
  segment.last = segment.version > 1000 ? c.I64() : c.I32();
  return segment;
}

}  // namespace rootfile_test
