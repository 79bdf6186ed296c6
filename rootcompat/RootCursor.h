// Reading ROOT's binary layout: big-endian fields of a block of bytes, front
// to back. A read past the end fails and leaves the cursor failed, so that
// no length found in a file is ever trusted.
#ifndef ROOTCOMPAT_ROOTCURSOR_H
#define ROOTCOMPAT_ROOTCURSOR_H

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "RtypesCore.h"

namespace rootcompat {

class Cursor {
 public:
  explicit Cursor(std::string_view bytes) : fBytes(bytes) {}

  bool Failed() const { return fFailed; }
  void Fail() { fFailed = true; }
  std::size_t Position() const { return fPosition; }
  std::size_t Size() const { return fBytes.size(); }
  void Skip(std::size_t n) { Take(n); }
  // Moves to `position`, which must lie within the bytes.
  void MoveTo(std::size_t position) {
    if (position > fBytes.size()) fFailed = true;
    else if (!fFailed) fPosition = position;
  }

  std::uint64_t Number(std::size_t width) {
    const char* bytes = Take(width);
    std::uint64_t value = 0;
    if (bytes)
      for (std::size_t i = 0; i < width; ++i) value = value << 8 | static_cast<unsigned char>(bytes[i]);
    return value;
  }
  char Char() { return char(Number(1)); }
  Short_t Short() { return Short_t(std::uint16_t(Number(2))); }
  Int_t Int() { return Int_t(std::uint32_t(Number(4))); }
  UInt_t UInt() { return UInt_t(Number(4)); }
  Long64_t Long(bool wide) { return wide ? Long64_t(Number(8)) : Long64_t(std::uint32_t(Number(4))); }
  Float_t Float() { return std::bit_cast<Float_t>(std::uint32_t(Number(4))); }
  Double_t Double() { return std::bit_cast<Double_t>(Number(8)); }

  // ROOT's string: one length byte, or 255 and a four-byte length.
  std::string String() {
    std::size_t length = std::uint8_t(Number(1));
    if (length == 255) length = std::uint32_t(Number(4));
    const char* bytes = Take(length);
    return bytes ? std::string(bytes, length) : std::string();
  }
  // A C string ending in a zero byte.
  std::string CString() {
    std::string text;
    while (!fFailed) {
      const char c = Char();
      if (fFailed || c == '\0') break;
      text.push_back(c);
    }
    return text;
  }

 private:
  const char* Take(std::size_t n) {
    if (fFailed || n > fBytes.size() - fPosition) {
      fFailed = true;
      return nullptr;
    }
    const char* bytes = fBytes.data() + fPosition;
    fPosition += n;
    return bytes;
  }

  std::string_view fBytes;
  std::size_t fPosition = 0;
  bool fFailed = false;
};

}  // namespace rootcompat

#endif
