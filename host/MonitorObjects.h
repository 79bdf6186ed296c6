// The monitor's ROOT objects as the host sees them: the run number and event
// count shown beside the live canvas, the canvas updates the monitor
// publishes, and the files that save() and the run archive write.
#ifndef KIVO_HOST_MONITOR_OBJECTS_H
#define KIVO_HOST_MONITOR_OBJECTS_H

#include <functional>
#include <string>
#include <vector>

#include "RootStreamer.h"

#include "LiveCanvas.h"

class TList;

namespace kivo::host {

class MonitorPlugin;

class MonitorObjects {
 public:
  explicit MonitorObjects(const MonitorPlugin& plugin);

  // kivo_run.
  int run() const;
  // Entries of hnevnt (data events with the detector packet since the last reset).
  long events() const;
  // The normalised hit maps and the library's readers of them.
  web::HitMapSource hit_maps() const;
  // The objects that saved and archived files hold, in this order: every
  // histogram of the current directory and the gmpos_chip graphs, the maps
  // made whole first (kivo_materialise_maps), then what keep_also adds.
  void collect(TList& objects) const;
  // What collect() gives, in two parts and without making the maps whole:
  // the monitor's own objects, and those keep_also adds.
  void list_monitor(TList& objects) const;
  void list_kept(TList& objects) const;
  // Further objects to keep with each run (the data-quality verdicts and
  // trends): `add` adds them to the list that collect() fills.
  void keep_also(std::function<void(TList&)> add) { keep_also_ = std::move(add); }
  // Writes the collected objects by the file's extension: ".json" as one
  // TList in ROOT JSON, with the canvases; ".root" as a ROOT file, one key
  // per object, histograms with the no-statistics bit as in the JSON. The
  // file appears whole or not at all; false with `error` naming it.
  bool save(const std::string& path, std::string& error) const;

 private:
  // The collected objects in ROOT's binary form; false with `error`.
  bool stream(std::vector<rootcompat::StreamedObject>& objects, std::string& error) const;

  const MonitorPlugin& plugin_;
  std::function<void(TList&)> keep_also_;
};

// Writes `text` to `path` atomically: a temporary file of a unique name beside
// it, renamed over `path` once complete. On failure `path` is untouched and
// `error` names it and the reason. A symbolic link is followed; a device,
// pipe or socket is refused, since writing to it could wait for ever.
bool write_file_atomically(const std::string& path, const std::string& text, std::string& error);

// Writes `objects` as the ROOT file `path`, atomically as above.
bool write_root_file(const std::string& path, std::vector<rootcompat::StreamedObject> objects,
                     std::string& error);

}  // namespace kivo::host

#endif
