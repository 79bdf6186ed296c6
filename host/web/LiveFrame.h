#ifndef KIVO_HOST_WEB_LIVE_FRAME_H
#define KIVO_HOST_WEB_LIVE_FRAME_H

#include <compare>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "CanvasCopy.h"
#include "TH2F.h"

namespace kivo::web {

// A rectangle of bins of one stave's hit map, ROOT bin numbers, both ends included.
struct MapRegion {
  int stave = 0;
  int first_x = 1;
  int last_x = 1;
  int first_y = 1;
  int last_y = 1;

  auto operator<=>(const MapRegion&) const = default;
  long bins() const { return long(last_x - first_x + 1) * (last_y - first_y + 1); }
  // Inside a map of nx x ny bins of one of `staves` staves, first <= last.
  bool valid(int staves, int nx, int ny) const {
    return stave >= 0 && stave < staves && first_x >= 1 && first_x <= last_x && last_x <= nx &&
           first_y >= 1 && first_y <= last_y && last_y <= ny;
  }
};

// A region at full resolution, or merged by maximum down to the pixels its pad can show.
struct LiveRegion {
  MapRegion region;
  std::unique_ptr<TH2F> map;
};

// The hit maps over the last complete recent window, at the overview's
// resolution: each block holds the hits of its pixels in the window. Made on
// the event thread when a window has ended, then shared, read-only, by every
// frame and the view store until the next (detached histograms, which any
// thread may free).
struct RecentMaps {
  long serial = 0;  // of the window; 0: none ended yet
  long first_event = 0;
  long last_event = 0;
  int events = 0;  // the window's length
  std::vector<std::pair<int, std::shared_ptr<const TH2F>>> maps;  // stave, map
};

// What the page shows, copied on the event-processing thread at one canvas
// update, then serialised on the display's own thread: the canvas with each
// hit map at screen resolution, the zoomed regions, and further small objects
// by id for views beside the canvas. A frame with no canvas brings only
// regions. Frames are freed on the thread that made them (CanvasCopy.h).
struct LiveFrame {
  // A hit map in the canvas copy, drawn at overview resolution.
  struct HitMap {
    const TObject* overview = nullptr;
    int stave = 0;
    int bins_x = 0;  // of the map at full resolution
    int bins_y = 0;
  };

  int run = 0;
  long events = 0;
  std::int64_t published_ms = 0;  // wall-clock time of the canvas update, ms since 1970
  std::unique_ptr<rootcompat::CanvasCopy> canvas;
  std::vector<HitMap> hit_maps;
  std::vector<LiveRegion> regions;
  std::vector<MapRegion> kept_regions;  // still asked for, their last copy shown
  std::shared_ptr<const RecentMaps> recent;  // null: the monitor keeps no recent window
  std::vector<std::pair<std::string, std::unique_ptr<TObject>>> objects;
};

}  // namespace kivo::web

#endif
