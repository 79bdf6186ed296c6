#include "RootFileKeys.h"

#include "RootCursor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <zlib.h>

namespace rootcompat {

namespace {

constexpr Int_t kBigFileVersion = 1000000;
constexpr Version_t kBigVersion = 1000;
// A generous bound on what a top directory's record may take.
constexpr Int_t kMaxNameBytes = 1 << 20;
// The largest object a key may hold once inflated.
constexpr Int_t kMaxObjectBytes = Int_t{1} << 30;
constexpr std::size_t kBlockHeader = 9;

class File {
 public:
  explicit File(const std::string& path)
      : fDescriptor(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK)),
        fOpenError(fDescriptor < 0 ? errno : 0) {
    struct stat info {};
    if (fDescriptor >= 0 && ::fstat(fDescriptor, &info) == 0) fSize = info.st_size;
    fRegular = fDescriptor >= 0 && S_ISREG(info.st_mode);
  }
  ~File() {
    if (fDescriptor >= 0) ::close(fDescriptor);
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Whether the file opened and is a regular file, with why not in `error`.
  bool Readable(std::string& error) const {
    if (fDescriptor < 0) {
      error = std::strerror(fOpenError);
      return false;
    }
    if (!fRegular) {
      error = "not a regular file";
      return false;
    }
    return true;
  }
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
  int fOpenError;
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

// A little-endian size of three bytes, as block headers hold them.
std::size_t ThreeBytes(Cursor& c) {
  const std::size_t low = c.Number(1);
  const std::size_t middle = c.Number(1);
  return low | middle << 8 | c.Number(1) << 16;
}

// One block of ROOT's compression ("ZL", method, compressed and inflated sizes) into `out`.
bool InflateBlock(Cursor& c, std::string_view bytes, std::string& out, std::string& error) {
  const std::size_t at = c.Position();
  std::string tag(1, c.Char());
  tag.push_back(c.Char());
  c.Skip(1);
  const std::size_t packed = ThreeBytes(c);
  const std::size_t unpacked = ThreeBytes(c);
  if (c.Failed() || tag != "ZL" || packed > bytes.size() - at - kBlockHeader) {
    error = "damaged compressed object (not a zlib block)";
    return false;
  }
  const std::size_t from = out.size();
  out.resize(from + unpacked);
  uLongf length = unpacked;
  const int status = uncompress(reinterpret_cast<Bytef*>(out.data() + from), &length,
                                reinterpret_cast<const Bytef*>(bytes.data() + at + kBlockHeader), packed);
  if (status != Z_OK || length != unpacked) {
    error = "damaged compressed object (zlib: " + std::to_string(status) + ")";
    return false;
  }
  c.Skip(packed);
  return true;
}

}  // namespace

bool ReadKeyPayload(const std::string& path, const KeyRecord& key, std::string& payload, std::string& error) {
  payload.clear();
  const File file(path);
  if (!file.Readable(error)) return false;
  if (key.keylen <= 0 || key.nbytes < key.keylen || key.objlen < 0 || key.objlen > kMaxObjectBytes ||
      key.seekKey < 0 || key.seekKey > file.Size() - key.nbytes) {
    error = "damaged key of " + key.name;
    return false;
  }
  const std::string bytes = file.Read(key.seekKey + key.keylen, key.nbytes - key.keylen);
  if (Int_t(bytes.size()) == key.objlen) {
    payload = bytes;
    return true;
  }
  Cursor c(bytes);
  payload.reserve(std::size_t(key.objlen));
  while (c.Position() < bytes.size() && Int_t(payload.size()) < key.objlen)
    if (!InflateBlock(c, bytes, payload, error)) return false;
  if (Int_t(payload.size()) != key.objlen) {
    error = "damaged compressed object " + key.name + " (its size)";
    return false;
  }
  return true;
}

bool ReadFileKeys(const std::string& path, FileKeys& contents, std::string& error, Long64_t maxKeysListBytes) {
  contents = FileKeys();
  const File file(path);
  if (!file.Readable(error)) return false;
  Header header;
  Long64_t seekKeys = 0;
  return ReadHeader(file, header, error) && ReadTopDirectory(file, header, contents.title, seekKeys, error) &&
         ReadKeysList(file, seekKeys, std::min(maxKeysListBytes, kMaxKeysListBytes), contents.keys, error);
}

}  // namespace rootcompat
