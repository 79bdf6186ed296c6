#ifndef KIVO_HOST_WEB_VIEW_STORE_H
#define KIVO_HOST_WEB_VIEW_STORE_H

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>
#include <string>
#include <utility>
#include <vector>

#include "LiveFrame.h"

namespace kivo::web {

// One publish, serialised: ROOT JSON texts keyed by id. The layout is the
// canvas with each primitive other than a pad replaced by a placeholder
// {"_typename":"KivoRef","id":ID} naming its object; ids are JSON string
// contents (escaped, no raw quote).
struct ViewTexts {
  int run = 0;
  long events = 0;
  std::int64_t published_ms = 0;
  bool has_canvas = false;  // false: the texts bring regions only
  std::string layout;
  std::string hit_maps = "[]";  // [{"id":ID,"stave":S,"bins":[NX,NY]}], the zoomable maps
  std::vector<std::pair<std::string, std::string>> objects;
  std::vector<std::pair<MapRegion, std::string>> regions;
  std::vector<MapRegion> kept_regions;  // not copied this time, their last text stays
  std::shared_ptr<const RecentMaps> recent;  // serialised only when a page asks for them
};

// What a page asks for: the changes since the version it holds (of this
// server instance), and the zoomed regions, each with the version it holds
// (regions are versioned apart from canvas publishes).
struct ViewRequest {
  std::string instance;
  long since = 0;
  std::vector<std::pair<MapRegion, long>> regions;
  std::vector<std::pair<int, long>> recent = {};  // stave, and the serial of the window held (0: none)
};

// The page's view as last published, in pieces that each carry the version
// at which their text last changed, so that an update sends only what
// changed since the version a page holds. Versions count canvas publishes
// from 1 in each process; the instance tag tells two processes apart.
// Thread-safe; texts are shared, never copied under the lock.
class ViewStore {
 public:
  explicit ViewStore(std::string instance) : instance_(std::move(instance)) {}

  void publish(ViewTexts texts);

  const std::string& instance() const { return instance_; }
  struct Status {
    long version = 0;
    int run = 0;
    long events = 0;
    std::int64_t published_ms = 0;
  };
  Status status() const;
  bool has_region(const MapRegion& region) const;

  // {"instance":..,"version":..,"run":..,"events":..,"published":MS,"activity":ACTIVITY,
  //  "hit_maps":[{"id":..,"stave":..,"bins":[..]}],
  //  "reset":true (when everything is sent anew), "layout":.. (when changed),
  //  "objects":{ID:..}, "regions":[{"stave":..,"x":[..],"y":[..],"version":..,"map":..}],
  //  "recent_window":{"events":..,"version":SERIAL,"first":..,"last":..} (first and last once a
  //  window ended), "recent":[{"stave":..,"version":SERIAL,"map":..}] (the maps asked for
  //  whose window is not the one held, each block's hits as the narrowest unsigned integer
  //  array that holds them)}. A recent map is serialised once per window, by the first
  //  request that asks for it.
  std::string update(const ViewRequest& request, const std::string& activity_json) const;
  // The whole canvas with every object in its place (null before the first
  // one), and the status it belongs to.
  struct Canvas {
    Status status;
    std::shared_ptr<const std::string> text;
  };
  Canvas canvas() const;

 private:
  struct Piece {
    std::shared_ptr<const std::string> text;
    long version = 0;
  };
  using Pieces = std::map<std::string, Piece>;
  // A recent map and its text, written by the first reader that needs it.
  struct RecentPiece {
    std::shared_ptr<const TH2F> map;
    std::shared_ptr<std::once_flag> written = std::make_shared<std::once_flag>();
    std::shared_ptr<std::string> text = std::make_shared<std::string>();
  };
  // The recent window and the recent maps a request asks for.
  struct RecentWanted {
    std::shared_ptr<const RecentMaps> recent;
    std::vector<std::pair<int, RecentPiece>> maps;  // stave, map
  };
  static Piece keep_or_replace(const Piece* old, std::string text, long version);
  void publish_recent(std::shared_ptr<const RecentMaps> recent);
  RecentWanted recent_wanted(const ViewRequest& request, bool reset) const;  // mutex_ held
  // Writes the texts of the maps not yet written; their size.
  static std::size_t write_recent(const RecentWanted& wanted);
  static void append_recent(std::string& out, const RecentWanted& wanted);
  void publish_regions(std::vector<std::pair<MapRegion, std::string>>& regions, bool replace_all,
                       const std::vector<MapRegion>& kept);

  const std::string instance_;
  mutable std::mutex mutex_;
  Status status_;
  Piece layout_;
  std::string hit_maps_ = "[]";
  Pieces objects_;
  std::map<MapRegion, Piece> regions_;
  long region_versions_ = 0;
  std::shared_ptr<const RecentMaps> recent_;
  std::map<int, RecentPiece> recent_pieces_;  // by stave, of recent_
  mutable std::shared_ptr<const std::string> canvas_;  // assembled on demand, for status_.version
  mutable long canvas_version_ = 0;
};

// `text` as the contents of a JSON string (quotes and control characters as \u00XX).
std::string json_string_contents(std::string_view text);

}  // namespace kivo::web

#endif
