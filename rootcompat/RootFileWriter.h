// The layout of a ROOT file as ROOT 6's TFile writes a new one: a header of
// fixed size, the top directory's key at byte 100, one key per object at the
// end of the file, and when the file is finished the class descriptions, the
// directory's list of keys and the list of free segments, with header and
// directory record rewritten to point at them. Offsets past 2000000000 bytes
// switch keys, directory and header to their 64-bit form, as ROOT does.
#ifndef ROOTCOMPAT_ROOTFILEWRITER_H
#define ROOTCOMPAT_ROOTFILEWRITER_H

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "RootCompression.h"
#include "RootStreamer.h"
#include "RtypesCore.h"

namespace rootcompat {

// Where a file's bytes go, at absolute offsets.
class FileSink {
 public:
  virtual ~FileSink() = default;
  // False when the bytes could not all be written.
  virtual bool WriteAt(Long64_t offset, std::string_view bytes) = 0;
};

// A key as written: its header fields.
struct KeyRecord {
  Int_t nbytes = 0;  // key header and (compressed) payload
  Version_t version = 0;
  Int_t objlen = 0;  // uncompressed payload
  UInt_t datime = 0;
  Short_t keylen = 0;
  Short_t cycle = 0;
  Long64_t seekKey = 0;
  Long64_t seekPdir = 0;
  std::string className;
  std::string name;
  std::string title;
};

class FileWriter {
 public:
  // `name` and `title` are recorded as the file's; `compression` is ROOT's
  // setting (algorithm * 100 + level; only zlib is available).
  FileWriter(FileSink& sink, std::string name, std::string title, Int_t compression = kDefaultCompression);

  // Writes the header and the top directory; false when the sink failed.
  bool Start();
  // Compresses obj and appends it as a new key, the next cycle of its name;
  // false when the key is too large for ROOT's 32-bit key sizes or the sink
  // failed. `placed` receives the key.
  bool WriteKey(StreamedObject obj, KeyRecord* placed = nullptr);
  // Writes the class descriptions, the keys list and the free segments, then
  // the header and the directory again; false when the sink failed.
  bool Finish();

  // Applies to keys written from then on.
  void SetCompression(Int_t compression) { fCompression = compression; }
  Long64_t End() const { return fEnd; }
  const std::vector<KeyRecord>& Keys() const { return fKeys; }
  // What the last failure was.
  const std::string& Error() const { return fError; }

 private:
  KeyRecord NewKey(std::string className, std::string name, std::string title, Long64_t seekPdir) const;
  // Sets the key's version and length; returns the length, which may not fit.
  std::size_t Shape(KeyRecord& key) const;
  bool Store(KeyRecord& key, std::string& payload, const std::vector<std::size_t>& references);
  // Places a key of `payloadSize` bytes at the end of the file.
  void Place(KeyRecord& key, std::size_t payloadSize);
  bool WriteRecord(const KeyRecord& key, std::string_view payload);
  Short_t NextCycle(const std::string& name) const;
  std::string HeaderBytes() const;
  std::string TopDirectoryBytes() const;
  bool WriteStreamerInfos();
  bool WriteKeysList();
  bool WriteFreeSegments();

  FileSink& fSink;
  std::string fName;
  std::string fTitle;
  Int_t fCompression;
  UInt_t fCreated;
  std::array<unsigned char, 16> fUUID;
  Long64_t fEnd;
  Long64_t fFreeLast;  // end of the one free segment, which starts at fEnd
  KeyRecord fSeekInfo;
  KeyRecord fKeysList;
  KeyRecord fFree;
  std::set<std::string> fClasses;
  std::vector<KeyRecord> fKeys;
  std::string fError;
};

// A whole ROOT file holding `objects`, one key each in the given order, as
// TFile writes it; `fileName` is the name it records. False with `error`
// when an object is too large for a key.
bool FileImage(std::vector<StreamedObject> objects, const std::string& fileName, std::string& image,
               std::string& error, Int_t compression = kDefaultCompression);

}  // namespace rootcompat

#endif
