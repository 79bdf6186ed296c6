// ROOT's binary object layout (that of TBufferFile when writing): big-endian
// numbers, strings with a length prefix, byte counts ahead of versioned
// objects, and class tags that name a class once and refer back to it after.
// A class reference holds a buffer position, which a reader counts from the
// start of the key (its header included); the buffer counts from its own
// start and keeps the places of those references so that the key length can
// be added once it is known (AddToReferences).
#ifndef ROOTCOMPAT_ROOTBUFFER_H
#define ROOTCOMPAT_ROOTBUFFER_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "RtypesCore.h"

namespace rootcompat {

class RootBuffer {
 public:
  void WriteBool(bool v) { WriteChar(v ? 1 : 0); }
  void WriteChar(char v) { fData.push_back(v); }
  void WriteShort(Short_t v);
  void WriteInt(Int_t v);
  void WriteUInt(UInt_t v);
  void WriteLong64(Long64_t v);
  void WriteFloat(Float_t v);
  void WriteDouble(Double_t v);
  // A TString: one length byte, or 255 and a four-byte length, then the characters.
  void WriteString(std::string_view s);
  void WriteFloatArray(const Float_t* values, std::size_t n);
  void WriteDoubleArray(const Double_t* values, std::size_t n);

  // Starts an object written with its byte count and class version; returns
  // the position that EndVersioned takes to fill in the count.
  std::size_t StartVersioned(Version_t version);
  void EndVersioned(std::size_t start);
  // TObject's own streamer: version, unique id, status bits.
  void WriteObjectHeader(UInt_t uniqueID, UInt_t bits);
  // The place of an object pointer (WriteObjectAny): its byte count and class
  // tag; EndVersioned completes it. Null pointers are WriteNullObject.
  std::size_t StartTaggedObject(const char* className);
  void WriteNullObject() { WriteUInt(0); }

  const std::string& Data() const { return fData; }
  std::string TakeData() { return std::move(fData); }
  // Positions of the class references written (words holding a position).
  std::vector<std::size_t> TakeReferences() { return std::move(fReferences); }

 private:
  template <class T>
  void WriteBigEndian(T v);
  void WriteClassTag(const char* className);

  std::string fData;
  std::map<std::string, UInt_t, std::less<>> fClassOffsets;  // class name -> tag position + map offset
  std::vector<std::size_t> fReferences;                      // positions of class references
};

// Adds `displacement` to the class reference at each of `positions` in `data`.
void AddToReferences(std::string& data, const std::vector<std::size_t>& positions, UInt_t displacement);

}  // namespace rootcompat

#endif
