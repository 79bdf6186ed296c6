#include "RootFileKeys.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

namespace rootcompat {

namespace {

constexpr Int_t kBigFileVersion = 1000000;
constexpr Version_t kBigVersion = 1000;
// A generous bound on what a top directory's record may take.
constexpr Int_t kMaxNameBytes = 1 << 20;

// Big-endian fields of a block of bytes, read front to back; every read
// past the end fails and leaves the cursor failed.
class Cursor {
 public:
  explicit Cursor(std::string_view bytes) : fBytes(bytes) {}

  bool Failed() const { return fFailed; }
  std::size_t Position() const { return fPosition; }
  void Skip(std::size_t n) { Take(n); }

  std::uint64_t Number(std::size_t width) {
    const char* bytes = Take(width);
    std::uint64_t value = 0;
    if (bytes)
      for (std::size_t i = 0; i < width; ++i) value = value << 8 | static_cast<unsigned char>(bytes[i]);
    return value;
  }
  Short_t Short() { return Short_t(std::uint16_t(Number(2))); }
  Int_t Int() { return Int_t(std::uint32_t(Number(4))); }
  Long64_t Long(bool wide) { return wide ? Long64_t(Number(8)) : Long64_t(std::uint32_t(Number(4))); }

  // ROOT's string: one length byte, or 255 and a four-byte length.
  std::string String() {
    std::size_t length = std::uint8_t(Number(1));
    if (length == 255) length = std::uint32_t(Number(4));
    const char* bytes = Take(length);
    return bytes ? std::string(bytes, length) : std::string();
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

class File {
 public:
  explicit File(const std::string& path)
      : fDescriptor(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK)) {
    struct stat info {};
    if (fDescriptor >= 0 && ::fstat(fDescriptor, &info) == 0) fSize = info.st_size;
    fRegular = fDescriptor >= 0 && S_ISREG(info.st_mode);
  }
  ~File() {
    if (fDescriptor >= 0) ::close(fDescriptor);
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  bool Opened() const { return fDescriptor >= 0; }
  bool Regular() const { return fRegular; }
  Long64_t Size() const { return fSize; }

  // The bytes from `offset` on, at most `length` of them (fewer at the end of the file).
  std::string Read(Long64_t offset, Long64_t length) const {
    if (offset < 0 || offset >= fSize || length <= 0) return {};
    std::string bytes(std::size_t(std::min(length, fSize - offset)), '\0');
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::pread(fDescriptor, bytes.data() + done, bytes.size() - done, offset + Long64_t(done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += std::size_t(n);
    }
    bytes.resize(done);
    return bytes;
  }

 private:
  int fDescriptor;
  Long64_t fSize = 0;
  bool fRegular = false;
};

KeyRecord ReadKeyHeader(Cursor& c) {
  KeyRecord key;
  key.nbytes = c.Int();
  key.version = c.Short();
  key.objlen = c.Int();
  key.datime = UInt_t(c.Int());
  key.keylen = c.Short();
  key.cycle = c.Short();
  const bool wide = key.version > kBigVersion;
  key.seekKey = c.Long(wide);
  key.seekPdir = c.Long(wide);
  key.className = c.String();
  key.name = c.String();
  key.title = c.String();
  return key;
}

struct Header {
  Long64_t begin = 0;
  Int_t nbytesName = 0;
};

bool ReadHeader(const File& file, Header& header, std::string& error) {
  const std::string bytes = file.Read(0, 64);
  Cursor c(bytes);
  const std::string magic = {char(c.Number(1)), char(c.Number(1)), char(c.Number(1)), char(c.Number(1))};
  if (c.Failed() || magic != "root") {
    error = "not a ROOT file";
    return false;
  }
  const bool big = c.Int() >= kBigFileVersion;
  header.begin = c.Int();
  c.Skip(big ? 16 : 8);  // fEND, fSeekFree
  c.Skip(8);             // fNbytesFree, nfree
  header.nbytesName = c.Int();
  if (c.Failed() || header.begin <= 0 || header.nbytesName <= 0 || header.nbytesName > kMaxNameBytes) {
    error = "damaged ROOT file header";
    return false;
  }
  return true;
}

// The top directory: the file's title and where the keys list lies.
bool ReadTopDirectory(const File& file, const Header& header, std::string& title, Long64_t& seekKeys,
                      std::string& error) {
  const std::string bytes = file.Read(header.begin, Long64_t(header.nbytesName) + 64);
  Cursor c(bytes);
  ReadKeyHeader(c);
  c.String();  // the file's name
  title = c.String();
  Cursor directory(std::string_view(bytes).substr(std::min<std::size_t>(bytes.size(), std::size_t(header.nbytesName))));
  const bool wide = directory.Short() > kBigVersion;
  directory.Skip(16);  // fDatimeC, fDatimeM, fNbytesKeys, fNbytesName
  directory.Long(wide);  // fSeekDir
  directory.Long(wide);  // fSeekParent
  seekKeys = directory.Long(wide);
  if (c.Failed() || directory.Failed() || seekKeys <= 0) {
    error = "truncated or damaged ROOT file (no list of keys)";
    return false;
  }
  return true;
}

bool ReadKeysList(const File& file, Long64_t seekKeys, Long64_t maxBytes, std::vector<KeyRecord>& keys,
                  std::string& error) {
  const std::string first = file.Read(seekKeys, 4);
  Cursor head(first);
  const Int_t nbytes = head.Int();
  if (!head.Failed() && nbytes > maxBytes) {
    error = "damaged ROOT file (its list of keys claims " + std::to_string(nbytes) + " bytes)";
    return false;
  }
  if (head.Failed() || nbytes <= 0 || seekKeys > file.Size() - nbytes) {
    error = "truncated or damaged ROOT file (its list of keys lies outside it)";
    return false;
  }
  const std::string bytes = file.Read(seekKeys, nbytes);
  Cursor c(bytes);
  const KeyRecord list = ReadKeyHeader(c);
  if (c.Failed() || list.keylen <= 0 || std::size_t(list.keylen) > bytes.size()) {
    error = "damaged ROOT file (its list of keys)";
    return false;
  }
  Cursor entries(std::string_view(bytes).substr(std::size_t(list.keylen)));
  const Int_t count = entries.Int();
  for (Int_t i = 0; i < count && !entries.Failed(); ++i) {
    KeyRecord key = ReadKeyHeader(entries);
    if (!entries.Failed()) keys.push_back(std::move(key));
  }
  if (count < 0 || entries.Failed()) {
    error = "damaged ROOT file (its list of keys ends early)";
    return false;
  }
  return true;
}

}  // namespace

bool ReadFileKeys(const std::string& path, FileKeys& contents, std::string& error, Long64_t maxKeysListBytes) {
  contents = FileKeys();
  const File file(path);
  if (!file.Opened()) {
    error = std::strerror(errno);
    return false;
  }
  if (!file.Regular()) {
    error = "not a regular file";
    return false;
  }
  Header header;
  Long64_t seekKeys = 0;
  return ReadHeader(file, header, error) && ReadTopDirectory(file, header, contents.title, seekKeys, error) &&
         ReadKeysList(file, seekKeys, std::min(maxKeysListBytes, kMaxKeysListBytes), contents.keys, error);
}

}  // namespace rootcompat
