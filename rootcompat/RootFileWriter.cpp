#include "RootFileWriter.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <ctime>
#include <random>

#include "RootBuffer.h"
#include "StreamerInfo.h"

namespace rootcompat {

namespace {

constexpr Long64_t kBegin = 100;                // fBEGIN: the first key
constexpr Long64_t kStartBigFile = 2000000000;  // TFile::kStartBigFile
constexpr Long64_t kFreeGrowth = 1000000000;    // TFree::GetBestFree's step
constexpr Int_t kFileVersion = 63206;           // written as ROOT 6.32/06 writes
constexpr Int_t kBigFileVersion = 1000000;
constexpr Version_t kKeyVersion = 4;
constexpr Version_t kDirectoryVersion = 5;
constexpr Version_t kFreeVersion = 1;
constexpr Version_t kBigVersion = 1000;  // added to key, directory and free-segment versions
constexpr Version_t kUUIDVersion = 1;
constexpr Int_t kDirectorySize = 60;     // TDirectoryFile::Sizeof, both forms
constexpr std::size_t kTitleMax = 32000;  // TKey's limit on a title
constexpr const char* kFileClass = "TFile";

std::size_t StringSize(std::string_view s) { return (s.size() < 255 ? 1 : 5) + s.size(); }

// TDatime's packed local time.
UInt_t DatimeNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return UInt_t(local.tm_year + 1900 - 1995) << 26 | UInt_t(local.tm_mon + 1) << 22 | UInt_t(local.tm_mday) << 17 |
         UInt_t(local.tm_hour) << 12 | UInt_t(local.tm_min) << 6 | UInt_t(local.tm_sec);
}

// A random (version 4) UUID.
std::array<unsigned char, 16> NewUUID() {
  std::random_device device;
  std::array<unsigned char, 16> uuid{};
  for (unsigned char& byte : uuid) byte = static_cast<unsigned char>(device());
  uuid[6] = static_cast<unsigned char>((uuid[6] & 0x0f) | 0x40);
  uuid[8] = static_cast<unsigned char>((uuid[8] & 0x3f) | 0x80);
  return uuid;
}

void WriteUUID(RootBuffer& b, const std::array<unsigned char, 16>& uuid) {
  b.WriteShort(kUUIDVersion);
  for (unsigned char byte : uuid) b.WriteChar(static_cast<char>(byte));
}

bool IsBig(Version_t version) { return version > kBigVersion; }

void WriteKeyHeader(RootBuffer& b, const KeyRecord& k) {
  b.WriteInt(k.nbytes);
  b.WriteShort(k.version);
  b.WriteInt(k.objlen);
  b.WriteUInt(k.datime);
  b.WriteShort(k.keylen);
  b.WriteShort(k.cycle);
  if (IsBig(k.version)) {
    b.WriteLong64(k.seekKey);
    b.WriteLong64(k.seekPdir);
  } else {
    b.WriteInt(Int_t(k.seekKey));
    b.WriteInt(Int_t(k.seekPdir));
  }
  b.WriteString(k.className);
  b.WriteString(k.name);
  b.WriteString(k.title);
}

std::size_t KeyLength(const KeyRecord& k) {
  const std::size_t fixed = 4 + 2 + 4 + 4 + 2 + 2;
  return fixed + (IsBig(k.version) ? 16 : 8) + StringSize(k.className) + StringSize(k.name) + StringSize(k.title);
}

class MemorySink : public FileSink {
 public:
  bool WriteAt(Long64_t offset, std::string_view bytes) override {
    const std::size_t end = std::size_t(offset) + bytes.size();
    if (end > fData.size()) fData.resize(end);
    std::memcpy(fData.data() + offset, bytes.data(), bytes.size());
    return true;
  }
  std::string TakeData() { return std::move(fData); }

 private:
  std::string fData;
};

}  // namespace

FileWriter::FileWriter(FileSink& sink, std::string name, std::string title, Int_t compression)
    : fSink(sink), fName(std::move(name)), fTitle(std::move(title)), fCompression(compression),
      fCreated(DatimeNow()), fUUID(NewUUID()), fEnd(kBegin), fFreeLast(kStartBigFile) {}

KeyRecord FileWriter::NewKey(std::string className, std::string name, std::string title, Long64_t seekPdir) const {
  KeyRecord key;
  key.className = std::move(className);
  key.name = std::move(name);
  key.title = std::move(title);
  if (key.title.size() > kTitleMax) key.title.resize(kTitleMax);
  key.datime = DatimeNow();
  key.cycle = 1;
  key.seekPdir = seekPdir;
  return key;
}

// The key goes at the end of the file, which grows by it.
void FileWriter::Place(KeyRecord& key, std::size_t payloadSize) {
  key.seekKey = fEnd;
  key.nbytes = Int_t(std::size_t(key.keylen) + payloadSize);
  fEnd += key.nbytes;
  if (fEnd > fFreeLast) fFreeLast += kFreeGrowth;
}

bool FileWriter::WriteRecord(const KeyRecord& key, std::string_view payload) {
  RootBuffer header;
  WriteKeyHeader(header, key);
  if (fSink.WriteAt(key.seekKey, header.Data()) && fSink.WriteAt(key.seekKey + key.keylen, payload)) return true;
  fError = "cannot write " + key.name + " at offset " + std::to_string(key.seekKey);
  return false;
}

Short_t FileWriter::NextCycle(const std::string& name) const {
  Short_t cycle = 0;
  for (const KeyRecord& key : fKeys)
    if (key.name == name && key.cycle > cycle) cycle = key.cycle;
  return Short_t(cycle + 1);
}

bool FileWriter::Start() {
  const std::string top = TopDirectoryBytes();
  fEnd = kBegin + Long64_t(top.size());
  if (fSink.WriteAt(0, HeaderBytes()) && fSink.WriteAt(kBegin, top)) return true;
  fError = "cannot write the file header";
  return false;
}

// The header form (64-bit once the file has passed kStartBigFile) and length
// of a key placed at the end of the file now.
std::size_t FileWriter::Shape(KeyRecord& key) const {
  key.version = fEnd > kStartBigFile ? kKeyVersion + kBigVersion : kKeyVersion;
  const std::size_t keylen = KeyLength(key);
  key.keylen = Short_t(std::min<std::size_t>(keylen, SHRT_MAX));
  return keylen;
}

// Completes the payload's class references with the key length, compresses
// it when that shrinks it, and writes the key at the end of the file.
bool FileWriter::Store(KeyRecord& key, std::string& payload, const std::vector<std::size_t>& references) {
  key.objlen = Int_t(payload.size());
  AddToReferences(payload, references, UInt_t(key.keylen));
  std::string compressed;
  const bool zipped = CompressPayload(payload, fCompression % 100, compressed);
  const std::string& stored = zipped ? compressed : payload;
  Place(key, stored.size());
  return WriteRecord(key, stored);
}

bool FileWriter::WriteKey(StreamedObject obj, KeyRecord* placed) {
  KeyRecord key = NewKey(std::move(obj.className), std::move(obj.name), std::move(obj.title), kBegin);
  key.cycle = NextCycle(key.name);
  const std::size_t keylen = Shape(key);
  if (keylen > SHRT_MAX || obj.payload.size() > std::size_t(INT_MAX) - keylen) {
    fError = key.name + ": the key is too large for a ROOT file (" + std::to_string(obj.payload.size()) + " bytes)";
    return false;
  }
  if (!Store(key, obj.payload, obj.references)) return false;
  fClasses.insert(obj.classes.begin(), obj.classes.end());
  fKeys.push_back(key);
  if (placed) *placed = key;
  return true;
}

bool FileWriter::WriteStreamerInfos() {
  RootBuffer list;
  WriteStreamerInfoList(list, ClassesToDescribe(fClasses));
  fSeekInfo = NewKey("TList", "StreamerInfo", "Doubly linked list", kBegin);
  Shape(fSeekInfo);
  std::string payload = list.TakeData();
  return Store(fSeekInfo, payload, list.TakeReferences());
}

// The directory's keys: their number, then each key's header.
bool FileWriter::WriteKeysList() {
  RootBuffer list;
  list.WriteInt(Int_t(fKeys.size()));
  for (const KeyRecord& key : fKeys) WriteKeyHeader(list, key);
  fKeysList = NewKey(kFileClass, fName, fTitle, kBegin);
  Shape(fKeysList);
  fKeysList.objlen = Int_t(list.Data().size());
  Place(fKeysList, list.Data().size());
  return WriteRecord(fKeysList, list.Data());
}

// One free segment: from the end of the file to fFreeLast. Its 64-bit form
// is chosen before the key is placed, in case placing it moves fFreeLast.
bool FileWriter::WriteFreeSegments() {
  fFree = NewKey(kFileClass, fName, fTitle, kBegin);
  Shape(fFree);
  const bool big = fFreeLast > kStartBigFile || fEnd + fFree.keylen + 18 > fFreeLast;
  const std::size_t size = big ? 18 : 10;
  fFree.objlen = Int_t(size);
  Place(fFree, size);
  RootBuffer segment;
  segment.WriteShort(big ? kFreeVersion + kBigVersion : kFreeVersion);
  if (big) {
    segment.WriteLong64(fEnd);
    segment.WriteLong64(fFreeLast);
  } else {
    segment.WriteInt(Int_t(fEnd));
    segment.WriteInt(Int_t(fFreeLast));
  }
  return WriteRecord(fFree, segment.Data());
}

std::string FileWriter::HeaderBytes() const {
  const bool big = fEnd > kStartBigFile;
  RootBuffer b;
  b.WriteChar('r');
  b.WriteChar('o');
  b.WriteChar('o');
  b.WriteChar('t');
  b.WriteInt(big ? kFileVersion + kBigFileVersion : kFileVersion);
  b.WriteInt(Int_t(kBegin));
  const Int_t nbytesName = Int_t(KeyLength(NewKey(kFileClass, fName, fTitle, 0)) + StringSize(fName) +
                                 StringSize(fTitle));
  if (big) {
    b.WriteLong64(fEnd);
    b.WriteLong64(fFree.seekKey);
  } else {
    b.WriteInt(Int_t(fEnd));
    b.WriteInt(Int_t(fFree.seekKey));
  }
  b.WriteInt(fFree.nbytes);
  b.WriteInt(fFree.nbytes ? 1 : 0);  // number of free segments
  b.WriteInt(nbytesName);
  b.WriteChar(big ? 8 : 4);  // fUnits: bytes per offset
  b.WriteInt(fCompression);
  if (big)
    b.WriteLong64(fSeekInfo.seekKey);
  else
    b.WriteInt(Int_t(fSeekInfo.seekKey));
  b.WriteInt(fSeekInfo.nbytes);
  WriteUUID(b, fUUID);
  std::string bytes = b.TakeData();
  bytes.resize(kBegin, '\0');
  return bytes;
}

// The top directory's key: a TNamed (file name and title), then the
// directory record, whose fixed size leaves room for its 64-bit form.
std::string FileWriter::TopDirectoryBytes() const {
  KeyRecord key = NewKey(kFileClass, fName, fTitle, 0);
  key.datime = fCreated;
  key.version = kKeyVersion;
  key.seekKey = kBegin;
  key.keylen = Short_t(KeyLength(key));
  const Int_t named = Int_t(StringSize(fName) + StringSize(fTitle));
  key.objlen = named + kDirectorySize;
  key.nbytes = key.keylen + key.objlen;
  RootBuffer b;
  WriteKeyHeader(b, key);
  b.WriteString(fName);
  b.WriteString(fTitle);
  const bool big = fKeysList.seekKey > kStartBigFile;
  b.WriteShort(big ? kDirectoryVersion + kBigVersion : kDirectoryVersion);
  b.WriteUInt(fCreated);
  b.WriteUInt(fKeysList.seekKey ? DatimeNow() : fCreated);
  b.WriteInt(fKeysList.nbytes);
  b.WriteInt(key.keylen + named);
  if (big) {
    b.WriteLong64(kBegin);
    b.WriteLong64(0);
    b.WriteLong64(fKeysList.seekKey);
  } else {
    b.WriteInt(Int_t(kBegin));
    b.WriteInt(0);
    b.WriteInt(Int_t(fKeysList.seekKey));
  }
  WriteUUID(b, fUUID);
  std::string bytes = b.TakeData();
  bytes.resize(std::size_t(key.nbytes), '\0');
  return bytes;
}

bool FileWriter::Finish() {
  if (!WriteStreamerInfos() || !WriteKeysList() || !WriteFreeSegments()) return false;
  if (fSink.WriteAt(0, HeaderBytes()) && fSink.WriteAt(kBegin, TopDirectoryBytes())) return true;
  fError = "cannot write the file header";
  return false;
}

bool FileImage(std::vector<StreamedObject> objects, const std::string& fileName, std::string& image,
               std::string& error, Int_t compression) {
  MemorySink sink;
  FileWriter writer(sink, fileName, "", compression);
  bool ok = writer.Start();
  for (std::size_t i = 0; ok && i < objects.size(); ++i) ok = writer.WriteKey(std::move(objects[i]));
  if (!ok || !writer.Finish()) {
    error = writer.Error();
    return false;
  }
  image = sink.TakeData();
  return true;
}

}  // namespace rootcompat
