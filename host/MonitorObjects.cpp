#include "MonitorObjects.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "MonitorPlugin.h"
#include "OutputPath.h"
#include "RootJSON.h"
#include "TCanvas.h"
#include "TDirectory.h"
#include "TGraphAsymmErrors.h"
#include "TH1F.h"
#include "TList.h"
#include "TROOT.h"

namespace kivo::host {

namespace {

constexpr int kStaves = 4;

bool write_all(int fd, const std::string& text) {
  const char* data = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    ssize_t count = ::write(fd, data, left);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) {
      if (count == 0) errno = EIO;
      return false;
    }
    data += count;
    left -= static_cast<std::size_t>(count);
  }
  return true;
}

// Writes `text` to the open `fd` and closes it; false with `error` naming
// `path` and the reason.
bool write_and_close(int fd, const std::string& path, const std::string& text,
                     std::string& error) {
  bool written = write_all(fd, text);
  int failure = written ? 0 : errno;
  if (::close(fd) != 0 && written) {
    written = false;
    failure = errno;
  }
  if (!written) error = "cannot write " + path + ": " + std::strerror(failure);
  return written;
}

// For a device, pipe or symbolic link, which a rename would replace.
bool write_in_place(const std::string& path, const std::string& text, std::string& error) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  return write_and_close(fd, path, text, error);
}

void add_all(TList& list, const TCollection* collection) {
  if (!collection) return;
  TIter next(collection);
  while (TObject* object = next()) list.Add(object);
}

}  // namespace

MonitorObjects::MonitorObjects(const MonitorPlugin& plugin) : plugin_(plugin) {}

int MonitorObjects::run() const {
  const int* run = static_cast<const int*>(plugin_.global("kivo_run"));
  return run ? *run : 0;
}

long MonitorObjects::events() const {
  TH1F* const* events = static_cast<TH1F* const*>(plugin_.global("hnevnt"));
  return events && *events ? static_cast<long>((*events)->GetEntries()) : 0;
}

bool MonitorObjects::save(const std::string& path, std::string& error) const {
  TList objects;
  add_all(objects, gDirectory->GetList());
  auto* graphs = static_cast<TGraphAsymmErrors* const*>(plugin_.global("gmpos_chip"));
  for (int stave = 0; graphs && stave < kStaves; ++stave) {
    if (graphs[stave]) objects.Add(graphs[stave]);
  }
  add_all(objects, gROOT->GetListOfCanvases());
  return write_file_atomically(path, rootcompat::ToJSON(objects), error);
}

bool write_file_atomically(const std::string& path, const std::string& text, std::string& error) {
  if (path.empty()) {
    error = "no file name given";
    return false;
  }
  if (!eventio::replaceable_by_rename(path)) return write_in_place(path, text, error);
  // A name of its own beside the target: a rename within one directory is
  // atomic, and no file the operator keeps there is overwritten or removed.
  std::string temporary = path + ".partial-XXXXXX";
  int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  ::fchmod(fd, 0644);
  bool written = write_and_close(fd, path, text, error);
  if (written && ::rename(temporary.c_str(), path.c_str()) == 0) return true;
  if (written) error = "cannot write " + path + ": " + std::strerror(errno);
  ::unlink(temporary.c_str());
  return false;
}

}  // namespace kivo::host
