// The monitor's ROOT objects as the host sees them: the run number and event
// count shown beside the live canvas, the canvas updates the monitor
// publishes, and the file that save() writes.
#ifndef KIVO_HOST_MONITOR_OBJECTS_H
#define KIVO_HOST_MONITOR_OBJECTS_H

#include <string>

#include "live_canvas.h"

namespace kivo::host {

class MonitorPlugin;

class MonitorObjects {
 public:
  explicit MonitorObjects(const MonitorPlugin& plugin);

  // kivo_run, or 0 when the library has none.
  int run() const;
  // Entries of hnevnt (data events with the detector packet since the last reset).
  long events() const;
  // The normalised hit maps and the library's readers of them, as far as it has them.
  HitMapSource hit_maps() const;
  // Writes every histogram of the current directory, the gmpos_chip graphs
  // and the canvases as one TList in ROOT JSON, through a temporary file
  // renamed into place; false with `error` naming the file. The normalised
  // maps are made whole first (the library may keep them lazily).
  bool save(const std::string& path, std::string& error) const;

 private:
  void materialise_maps() const;

  const MonitorPlugin& plugin_;
};

// Writes `text` to `path` atomically: a temporary file of a unique name beside
// it, renamed over `path` once complete. On failure `path` is untouched and
// `error` names it and the reason. A device, pipe or symbolic link is
// written in place.
bool write_file_atomically(const std::string& path, const std::string& text, std::string& error);

}  // namespace kivo::host

#endif
