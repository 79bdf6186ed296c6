#ifndef KIVO_HOST_WEB_LIVE_CANVAS_H
#define KIVO_HOST_WEB_LIVE_CANVAS_H

#include <memory>
#include <vector>

#include "LiveFrame.h"
#include "monitor_plugin.h"

class TCanvas;
class TPad;

namespace kivo::web {

// The monitor's normalised hit maps and the functions that read them cheaply
// (eventio/monitor_plugin.h); any of them may be missing.
struct HitMapSource {
  static constexpr int kStaves = 4;
  TH2F* const* maps = nullptr;  // h2d_chip_norm[kStaves]
  int (*overview)(int stave, float* out) = nullptr;
  int (*region)(int stave, int first_x, int last_x, int first_y, int last_y, float* out) = nullptr;
  int (*recent_window)(KivoRecentWindow* window) = nullptr;
  int (*recent_blocks)(int stave, float* out) = nullptr;
};

// Makes LiveFrames on the event-processing thread: copies of the canvas's
// small objects, each hit map as a TH2F of the overview's blocks (maxima of
// 18 x 4 bins, same name, title, attributes, axis ranges, minimum and
// maximum), the regions pages zoom into, and the maps of the last recent
// window (made again only when a new window has ended).
class LiveCanvas {
 public:
  // Regions of more bins than this are not copied: the page shows the overview there.
  static constexpr long kMaxRegionBins = 1L << 20;

  explicit LiveCanvas(HitMapSource source) : source_(source) {}

  std::shared_ptr<LiveFrame> frame(const TCanvas& canvas, const std::vector<MapRegion>& regions, int run,
                                   long events);
  // A frame of regions only, for pages that zoomed since the last canvas update.
  std::shared_ptr<LiveFrame> regions(const std::vector<MapRegion>& regions);

 private:
  struct Pixels {
    int x = 0;
    int y = 0;
  };
  std::unique_ptr<TObject> copy(const TObject& primitive, const TPad& pad, const TCanvas& canvas);
  int stave_of(const TObject& primitive) const;
  std::unique_ptr<TH2F> overview(int stave, const TH2F& map);
  std::shared_ptr<const RecentMaps> recent_maps(const std::vector<LiveFrame::HitMap>& hit_maps);
  void add_regions(LiveFrame& frame, const std::vector<MapRegion>& regions);
  std::unique_ptr<TH2F> region(const MapRegion& region);

  HitMapSource source_;
  std::vector<LiveFrame::HitMap> copied_maps_;   // of the frame being made
  std::vector<float> values_;                    // scratch for the map readers
  std::shared_ptr<const RecentMaps> recent_;     // of the last frame
  Pixels pad_pixels_[HitMapSource::kStaves] = {};  // frame size of each map's pad, from the last copy
};

}  // namespace kivo::web

#endif
