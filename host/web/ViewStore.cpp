#include "ViewStore.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "RootJSON.h"

namespace kivo::web {

namespace {

constexpr std::string_view kPlaceholderStart = R"({"_typename":"KivoRef","id":")";
constexpr std::string_view kPlaceholderEnd = R"("})";

void append_region(std::string& out, const MapRegion& region, long version, const std::string& map) {
  char head[160];
  std::snprintf(head, sizeof head, R"({"stave":%d,"x":[%d,%d],"y":[%d,%d],"version":%ld,"map":)", region.stave,
                region.first_x, region.last_x, region.first_y, region.last_y, version);
  out += head;
  out += map;
  out += '}';
}

// The layout with each placeholder replaced by its object's text.
std::string assemble(const std::string& layout, const std::map<std::string, std::shared_ptr<const std::string>>& objects) {
  std::string out;
  out.reserve(layout.size());
  std::size_t from = 0;
  for (;;) {
    const std::size_t start = layout.find(kPlaceholderStart, from);
    if (start == std::string::npos) break;
    const std::size_t id_start = start + kPlaceholderStart.size();
    const std::size_t id_end = layout.find(kPlaceholderEnd, id_start);
    if (id_end == std::string::npos) break;
    const auto found = objects.find(layout.substr(id_start, id_end - id_start));
    if (found == objects.end()) break;
    out.append(layout, from, start - from);
    out += *found->second;
    from = id_end + kPlaceholderEnd.size();
  }
  out.append(layout, from);
  return out;
}

}  // namespace

std::string json_string_contents(std::string_view text) {
  std::string out;
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\' || u < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out;
}

ViewStore::Piece ViewStore::keep_or_replace(const Piece* old, std::string text, long version) {
  if (old && *old->text == text) return *old;
  return {std::make_shared<const std::string>(std::move(text)), version};
}

void ViewStore::publish(ViewTexts texts) {
  std::lock_guard lock(mutex_);
  if (!texts.has_canvas) {
    publish_regions(texts.regions, false, {});
    return;
  }
  const long version = ++status_.version;
  status_.run = texts.run;
  status_.events = texts.events;
  status_.published_ms = texts.published_ms;
  hit_maps_ = std::move(texts.hit_maps);
  layout_ = keep_or_replace(layout_.text ? &layout_ : nullptr, std::move(texts.layout), version);
  Pieces objects;
  for (auto& [id, text] : texts.objects) {
    const auto old = objects_.find(id);
    objects[id] = keep_or_replace(old == objects_.end() ? nullptr : &old->second, std::move(text), version);
  }
  objects_.swap(objects);
  publish_regions(texts.regions, true, texts.kept_regions);
  publish_recent(std::move(texts.recent));
}

// The frames share one RecentMaps while the window stays: its texts stay too.
void ViewStore::publish_recent(std::shared_ptr<const RecentMaps> recent) {
  if (recent == recent_) return;
  recent_ = std::move(recent);
  recent_pieces_.clear();
  if (!recent_) return;
  for (const auto& [stave, map] : recent_->maps) recent_pieces_[stave].map = map;
}

ViewStore::RecentWanted ViewStore::recent_wanted(const ViewRequest& request, bool reset) const {
  RecentWanted wanted{recent_, {}};
  if (recent_ && recent_->serial > 0)
    for (const auto& [stave, held] : request.recent) {
      const auto found = recent_pieces_.find(stave);
      if (found != recent_pieces_.end() && (reset || held != recent_->serial))
        wanted.maps.emplace_back(stave, found->second);
    }
  return wanted;
}

std::size_t ViewStore::write_recent(const RecentWanted& wanted) {
  std::size_t size = 0;
  for (const auto& [stave, piece] : wanted.maps) {
    std::call_once(*piece.written, [&piece] { *piece.text = rootcompat::CountsToJSON(*piece.map); });
    size += piece.text->size();
  }
  return size;
}

void ViewStore::append_recent(std::string& out, const RecentWanted& wanted) {
  if (!wanted.recent) return;
  const RecentMaps& recent = *wanted.recent;
  const std::string serial = std::to_string(recent.serial);
  out += R"(,"recent_window":{"events":)" + std::to_string(recent.events) + R"(,"version":)" + serial;
  if (recent.serial > 0)
    out += R"(,"first":)" + std::to_string(recent.first_event) + R"(,"last":)" + std::to_string(recent.last_event);
  out += R"(},"recent":[)";
  for (std::size_t i = 0; i < wanted.maps.size(); ++i) {
    if (i) out += ',';
    out += R"({"stave":)" + std::to_string(wanted.maps[i].first) + R"(,"version":)" + serial + R"(,"map":)";
    out += *wanted.maps[i].second.text;
    out += '}';
  }
  out += ']';
}

// Regions keep their version while their text stays the same. A canvas
// publish names every region still asked for, copied or kept as it was; the
// others are dropped.
void ViewStore::publish_regions(std::vector<std::pair<MapRegion, std::string>>& regions, bool replace_all,
                                const std::vector<MapRegion>& kept_as_they_are) {
  std::map<MapRegion, Piece> kept = replace_all ? std::map<MapRegion, Piece>() : regions_;
  for (const MapRegion& region : kept_as_they_are)
    if (const auto old = regions_.find(region); old != regions_.end()) kept.insert(*old);
  for (auto& [region, text] : regions) {
    const auto old = regions_.find(region);
    kept[region] = keep_or_replace(old == regions_.end() ? nullptr : &old->second, std::move(text),
                                   region_versions_ + 1);
    region_versions_ = std::max(region_versions_, kept[region].version);
  }
  regions_.swap(kept);
}

ViewStore::Status ViewStore::status() const {
  std::lock_guard lock(mutex_);
  return status_;
}

bool ViewStore::has_region(const MapRegion& region) const {
  std::lock_guard lock(mutex_);
  return regions_.contains(region);
}

std::string ViewStore::update(const ViewRequest& request, const std::string& activity_json) const {
  std::unique_lock lock(mutex_);
  const Status status = status_;
  const bool reset = request.instance != instance_ || request.since <= 0 || request.since > status.version;
  const long since = reset ? 0 : request.since;
  const Piece layout = layout_;
  const std::string hit_maps = hit_maps_;
  std::vector<std::pair<std::string, std::shared_ptr<const std::string>>> objects;
  for (const auto& [id, piece] : objects_)
    if (piece.version > since) objects.emplace_back(id, piece.text);
  std::vector<std::pair<std::pair<MapRegion, long>, std::shared_ptr<const std::string>>> regions;
  for (const auto& [region, held] : request.regions) {
    const auto found = regions_.find(region);
    if (found != regions_.end() && found->second.version > (reset ? 0 : held))
      regions.push_back({{region, found->second.version}, found->second.text});
  }
  const RecentWanted recent = recent_wanted(request, reset);
  lock.unlock();

  // Sized once: the maps make an update of megabytes, which growing would
  // copy into fresh memory again and again.
  std::size_t size = 1024 + activity_json.size() + hit_maps.size() + write_recent(recent);
  if (layout.text) size += layout.text->size();
  for (const auto& [id, text] : objects) size += id.size() + text->size() + 4;
  for (const auto& region : regions) size += region.second->size() + 160;
  std::string out;
  out.reserve(size);
  out += R"({"instance":")" + json_string_contents(instance_) + R"(","version":)" + std::to_string(status.version) +
         R"(,"run":)" + std::to_string(status.run) + R"(,"events":)" + std::to_string(status.events) +
         R"(,"published":)" + std::to_string(status.published_ms) + R"(,"activity":)";
  out += activity_json;
  out += R"(,"hit_maps":)";
  out += hit_maps;
  if (reset) out += R"(,"reset":true)";
  if (layout.text && layout.version > since) {
    out += R"(,"layout":)";
    out += *layout.text;
  }
  out += R"(,"objects":{)";
  for (std::size_t i = 0; i < objects.size(); ++i) {
    if (i) out += ',';
    out += '"' + objects[i].first + "\":";
    out += *objects[i].second;
  }
  out += R"(},"regions":[)";
  for (std::size_t i = 0; i < regions.size(); ++i) {
    if (i) out += ',';
    append_region(out, regions[i].first.first, regions[i].first.second, *regions[i].second);
  }
  out += ']';
  append_recent(out, recent);
  out += '}';
  return out;
}

ViewStore::Canvas ViewStore::canvas() const {
  std::lock_guard lock(mutex_);
  if (!layout_.text) return {status_, nullptr};
  if (!canvas_ || canvas_version_ != status_.version) {
    std::map<std::string, std::shared_ptr<const std::string>> texts;
    for (const auto& [id, piece] : objects_) texts[id] = piece.text;
    canvas_ = std::make_shared<const std::string>(assemble(*layout_.text, texts));
    canvas_version_ = status_.version;
  }
  return {status_, canvas_};
}

}  // namespace kivo::web
