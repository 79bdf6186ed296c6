#include "RootBuffer.h"

#include <bit>
#include <cstring>

namespace rootcompat {

namespace {

// TBufferFile's markers: a byte count carries kByteCountMask, a class
// reference kClassMask, a class written for the first time kNewClassTag.
// Positions are recorded with kMapOffset added.
constexpr UInt_t kByteCountMask = 0x40000000;
constexpr UInt_t kClassMask = 0x80000000;
constexpr UInt_t kNewClassTag = 0xFFFFFFFF;
constexpr UInt_t kMapOffset = 2;
constexpr Version_t kTObjectVersion = 1;
// TObject::kIsReferenced: the object would carry a process id, which these
// files never hold.
constexpr UInt_t kIsReferenced = 1u << 4;

template <class T>
T ToBigEndian(T v) {
  if constexpr (std::endian::native == std::endian::big) return v;
  if constexpr (sizeof(T) == 2) return T(__builtin_bswap16(v));
  if constexpr (sizeof(T) == 4) return T(__builtin_bswap32(v));
  return T(__builtin_bswap64(v));
}

// Appends n values of type Source as big-endian words of type Word.
template <class Word, class Source>
void AppendSwapped(std::string& out, const Source* values, std::size_t n) {
  static_assert(sizeof(Word) == sizeof(Source));
  const std::size_t start = out.size();
  out.resize(start + n * sizeof(Word));
  char* to = out.data() + start;
  for (std::size_t i = 0; i < n; ++i) {
    Word word;
    std::memcpy(&word, values + i, sizeof word);
    word = ToBigEndian(word);
    std::memcpy(to + i * sizeof word, &word, sizeof word);
  }
}

void PutWord(std::string& data, std::size_t position, UInt_t value) {
  const UInt_t big = ToBigEndian(value);
  std::memcpy(data.data() + position, &big, sizeof big);
}

UInt_t GetWord(const std::string& data, std::size_t position) {
  UInt_t big;
  std::memcpy(&big, data.data() + position, sizeof big);
  return ToBigEndian(big);
}

}  // namespace

template <class T>
void RootBuffer::WriteBigEndian(T v) {
  const T big = ToBigEndian(v);
  fData.append(reinterpret_cast<const char*>(&big), sizeof big);
}

void RootBuffer::WriteShort(Short_t v) { WriteBigEndian(std::uint16_t(v)); }

void RootBuffer::WriteInt(Int_t v) { WriteBigEndian(std::uint32_t(v)); }

void RootBuffer::WriteUInt(UInt_t v) { WriteBigEndian(std::uint32_t(v)); }

void RootBuffer::WriteLong64(Long64_t v) { WriteBigEndian(std::uint64_t(v)); }

void RootBuffer::WriteFloat(Float_t v) { WriteBigEndian(std::bit_cast<std::uint32_t>(v)); }

void RootBuffer::WriteDouble(Double_t v) { WriteBigEndian(std::bit_cast<std::uint64_t>(v)); }

void RootBuffer::WriteString(std::string_view s) {
  if (s.size() < 255) {
    WriteChar(char(s.size()));
  } else {
    WriteChar(char(255));
    WriteInt(Int_t(s.size()));
  }
  fData.append(s);
}

void RootBuffer::WriteFloatArray(const Float_t* values, std::size_t n) {
  AppendSwapped<std::uint32_t>(fData, values, n);
}

void RootBuffer::WriteDoubleArray(const Double_t* values, std::size_t n) {
  AppendSwapped<std::uint64_t>(fData, values, n);
}

std::size_t RootBuffer::StartVersioned(Version_t version) {
  const std::size_t start = fData.size();
  WriteUInt(0);
  WriteShort(version);
  return start;
}

void RootBuffer::EndVersioned(std::size_t start) {
  PutWord(fData, start, UInt_t(fData.size() - start - sizeof(UInt_t)) | kByteCountMask);
}

void RootBuffer::WriteObjectHeader(UInt_t uniqueID, UInt_t bits) {
  WriteShort(kTObjectVersion);
  WriteUInt(uniqueID);
  WriteUInt(bits & ~kIsReferenced);
}

std::size_t RootBuffer::StartTaggedObject(const char* className) {
  const std::size_t start = fData.size();
  WriteUInt(0);
  WriteClassTag(className);
  return start;
}

void RootBuffer::WriteClassTag(const char* className) {
  if (auto known = fClassOffsets.find(className); known != fClassOffsets.end()) {
    fReferences.push_back(fData.size());
    WriteUInt(known->second | kClassMask);
    return;
  }
  fClassOffsets.emplace(className, UInt_t(fData.size()) + kMapOffset);
  WriteUInt(kNewClassTag);
  fData.append(className);
  fData.push_back('\0');
}

void AddToReferences(std::string& data, const std::vector<std::size_t>& positions, UInt_t displacement) {
  for (std::size_t position : positions) PutWord(data, position, GetWord(data, position) + displacement);
}

}  // namespace rootcompat
