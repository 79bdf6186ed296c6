// The class descriptions a ROOT file carries for every class it stores
// (TStreamerInfo records, in the "StreamerInfo" key), so that a reader can
// decode the objects without knowing the classes. They are those ROOT 6
// writes for the same class versions, checksums included: ROOT compares a
// description's checksum with that of its own class of the same version.
#ifndef ROOTCOMPAT_STREAMERINFO_H
#define ROOTCOMPAT_STREAMERINFO_H

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "RtypesCore.h"

namespace rootcompat {

class RootBuffer;

// ROOT's element types (TVirtualStreamerInfo::EReadWrite) used here.
enum EStreamerType {
  kStreamerBase = 0,
  kStreamerShort = 2,
  kStreamerInt = 3,
  kStreamerFloat = 5,
  kStreamerCounter = 6,
  kStreamerDouble = 8,
  kStreamerUShort = 12,
  kStreamerUInt = 13,
  kStreamerBits = 15,
  kStreamerBool = 18,
  kStreamerDoublePointer = 48,  // kOffsetP + kDouble: an array of a counted length
  kStreamerObject = 61,
  kStreamerAny = 62,
  kStreamerObjectp = 63,  // pointer never null ("->" in the member comment)
  kStreamerObjectP = 64,  // pointer that may be null
  kStreamerTString = 65,
  kStreamerTObject = 66,
  kStreamerTNamed = 67
};

// One element of a class description: a base class or a data member.
struct StreamerElement {
  // The TStreamerElement subclass that describes it.
  enum class Kind { Base, Basic, String, Object, ObjectAny, ObjectPointer, BasicPointer };
  Kind kind;
  const char* name;
  const char* title;  // the member's comment, or the base class's title
  Int_t type;
  Int_t size;
  const char* typeName;  // "BASE" for a base class
  Int_t baseVersion = 0;
  bool isEnum = false;  // an enumeration stored as int (counts in the checksum)
  // For a counted array: the member holding its length and that member's class.
  const char* countName = nullptr;
  const char* countClass = nullptr;
};

// A member that counts in the class checksum but is not streamed: the
// persistent members of classes with custom streamers (class version 0).
struct ChecksumMember {
  const char* name;
  const char* typeName;
};

struct ClassDescription {
  const char* name;
  Int_t version;
  std::vector<StreamerElement> elements;
  std::vector<ChecksumMember> checksumMembers = {};
};

// The description of `className`, null when this library has none to write
// (classes with their own streamers, such as TArrayF, are not described).
const ClassDescription* FindClassDescription(std::string_view className);
// ROOT's checksum of the class (TClass::GetCheckSum): a hash of its name,
// its bases with their checksums, and its members' names, types and array
// counters.
UInt_t ClassCheckSum(std::string_view className);
// Every class a reader needs described for objects of `classes`: those, their
// bases, and the classes of their object and pointer members, recursively,
// each once, a class before those it leads to.
std::vector<std::string> ClassesToDescribe(const std::set<std::string>& classes);
// Streams the list of TStreamerInfo objects for `classes`, the payload of
// the "StreamerInfo" key.
void WriteStreamerInfoList(RootBuffer& b, const std::vector<std::string>& classes);

}  // namespace rootcompat

#endif
