#include "TFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "RootFileWriter.h"
#include "TError.h"
#include "TKey.h"
#include "TList.h"
#include "TROOT.h"

namespace {

// Writes at offsets of an open file descriptor.
class DescriptorSink : public rootcompat::FileSink {
 public:
  explicit DescriptorSink(int fd) : fD(fd) {}

  bool WriteAt(Long64_t offset, std::string_view bytes) override {
    while (!bytes.empty()) {
      const ssize_t n = ::pwrite(fD, bytes.data(), bytes.size(), off_t(offset));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        fErrno = n == 0 ? EIO : errno;
        return false;
      }
      bytes.remove_prefix(std::size_t(n));
      offset += n;
    }
    return true;
  }
  int Errno() const { return fErrno; }

 private:
  int fD;
  int fErrno = 0;
};

std::string Upper(const char* text) {
  std::string upper = text ? text : "";
  for (char& c : upper) c = char(std::toupper(static_cast<unsigned char>(c)));
  return upper;
}

// Settings of another algorithm become zlib at the same level: only zlib is available.
Int_t ZlibSettings(Int_t settings) {
  if (settings < 0) return rootcompat::kDefaultCompression;
  const Int_t algorithm = settings / 100;
  if (algorithm == 0 || algorithm == rootcompat::kZlibAlgorithm) return settings;
  ::Warning("TFile::SetCompressionSettings", "compression algorithm %d is not available; zlib is used", algorithm);
  return rootcompat::kZlibAlgorithm * 100 + settings % 100;
}

}  // namespace

TFile::TFile() : fKeys(new TList) { fKeys->SetOwner(); }

TFile::TFile(const char* fname, Option_t* option, const char* ftitle, Int_t compress)
    : TDirectory(fname ? fname : "", ftitle ? ftitle : ""), fOption(Upper(option)),
      fCompress(ZlibSettings(compress)), fKeys(new TList) {
  fKeys->SetOwner();
  if (fOption == "CREATE") fOption = "NEW";
  if (!Create(fOption)) {
    MakeZombie();
    return;
  }
  cd();
}

TFile::~TFile() {
  Close();
  delete fKeys;
}

TFile* TFile::Open(const char* name, Option_t* option, const char* ftitle, Int_t compress) {
  auto* file = new TFile(name, option, ftitle, compress);
  if (!file->IsZombie()) return file;
  delete file;
  return nullptr;
}

bool TFile::Create(const std::string& mode) {
  if (mode != "NEW" && mode != "RECREATE") {
    Error("TFile", "file %s cannot be opened with option \"%s\": this library writes new files only (NEW, CREATE, "
          "RECREATE)", GetName(), mode.c_str());
    return false;
  }
  const int exclusive = mode == "NEW" ? O_EXCL : O_TRUNC;
  fD = ::open(GetName(), O_WRONLY | O_CREAT | O_CLOEXEC | exclusive, 0644);
  if (fD < 0) {
    if (errno == EEXIST)
      Error("TFile", "file %s already exists", GetName());
    else
      Error("TFile", "file %s can not be opened (%s)", GetName(), std::strerror(errno));
    return false;
  }
  fSink = std::make_unique<DescriptorSink>(fD);
  fWriter = std::make_unique<rootcompat::FileWriter>(*fSink, GetName(), GetTitle(), fCompress);
  if (fWriter->Start()) return true;
  Error("TFile", "file %s: %s", GetName(), std::strerror(static_cast<DescriptorSink&>(*fSink).Errno()));
  ::close(fD);
  fD = -1;
  fWriter.reset();
  return false;
}

void TFile::Close(Option_t*) {
  if (!IsOpen()) return;
  if (!fWriteError && !fWriter->Finish()) {
    Error("Close", "%s: %s (%s)", GetName(), fWriter->Error().c_str(),
          std::strerror(static_cast<DescriptorSink&>(*fSink).Errno()));
  }
  if (::close(fD) != 0) Error("Close", "%s: %s", GetName(), std::strerror(errno));
  fD = -1;
  fEND = fWriter->End();
  fWriter.reset();
  fSink.reset();
  // The objects that belong to the file go with it, as ROOT deletes them.
  fList->Delete();
  fKeys->Delete();
  if (gDirectory == this) gDirectory = gROOT;
}

Int_t TFile::WriteTObject(const TObject* obj, const char* name, Option_t*, Int_t) {
  if (!obj) return 0;
  if (!IsWritable()) {
    Error("WriteTObject", "Directory %s is not writable", GetName());
    return 0;
  }
  rootcompat::StreamedObject streamed;
  std::string error;
  if (!rootcompat::StreamObject(*obj, name, streamed, error)) {
    Error("WriteTObject", "%s", error.c_str());
    return 0;
  }
  rootcompat::KeyRecord record;
  if (!fWriter->WriteKey(std::move(streamed), &record)) {
    const int cause = static_cast<DescriptorSink&>(*fSink).Errno();
    Error("WriteTObject", "%s: %s%s%s", GetName(), fWriter->Error().c_str(), cause ? ": " : "",
          cause ? std::strerror(cause) : "");
    fWriteError = cause != 0;
    return 0;
  }
  auto* key = new TKey;
  key->SetNameTitle(record.name.c_str(), record.title.c_str());
  key->fVersion = record.version;
  key->fNbytes = record.nbytes;
  key->fObjlen = record.objlen;
  key->fKeylen = record.keylen;
  key->fCycle = record.cycle;
  key->fSeekKey = record.seekKey;
  key->fSeekPdir = record.seekPdir;
  key->fClassName = record.className;
  fKeys->Add(key);
  return record.nbytes;
}

Int_t TFile::Write(const char* name, Int_t opt, Int_t bufsize) {
  return static_cast<const TFile*>(this)->Write(name, opt, bufsize);
}

Int_t TFile::Write(const char*, Int_t, Int_t bufsize) const {
  auto* self = const_cast<TFile*>(this);
  Int_t nbytes = 0;
  TIter next(fList);
  while (TObject* obj = next()) nbytes += self->WriteTObject(obj, nullptr, "", bufsize);
  return nbytes;
}

Long64_t TFile::GetEND() const { return fWriter ? fWriter->End() : fEND; }

void TFile::SetCompressionLevel(Int_t level) {
  SetCompressionSettings(GetCompressionAlgorithm() * 100 + std::clamp(level, 0, 99));
}

void TFile::SetCompressionSettings(Int_t settings) {
  fCompress = ZlibSettings(settings);
  if (fWriter) fWriter->SetCompression(fCompress);
}
