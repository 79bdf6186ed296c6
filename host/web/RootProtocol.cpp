#include "RootProtocol.h"

#include <algorithm>
#include <charconv>
#include <memory>
#include <nlohmann/json.hpp>

namespace kivo::web {

namespace {

using Json = nlohmann::ordered_json;

constexpr std::string_view kHierarchy = "h.json";
constexpr std::string_view kObject = "root.json";
constexpr std::string_view kObjectGzip = "root.json.gz";
// THttpServer's other requests: each runs code, changes state or reads in
// ways kivo does not offer.
constexpr std::string_view kRefused[] = {"exe.json", "exe.bin", "exe.txt", "cmd.json", "cmd.txt", "item.json",
                                         "item.xml", "multi.json", "multi.bin", "h.xml", "root.bin", "root.xml",
                                         "root.png", "root.gif", "root.jpeg", "root.svg"};

bool strip_suffix(std::string_view& path, std::string_view name) {
  if (path == std::string("/").append(name)) {
    path = "";
    return true;
  }
  const std::string tail = std::string("/").append(name);
  if (!path.ends_with(tail)) return false;
  path.remove_suffix(tail.size());
  path.remove_prefix(1);
  return true;
}

// Item paths name objects and folders: no empty, "." or ".." segment, nothing but printable ASCII.
bool valid_item(std::string_view item) {
  if (item.empty()) return true;
  std::size_t from = 0;
  while (from <= item.size()) {
    const std::size_t slash = std::min(item.find('/', from), item.size());
    const std::string_view segment = item.substr(from, slash - from);
    if (segment.empty() || segment == "." || segment == "..") return false;
    from = slash + 1;
  }
  return std::all_of(item.begin(), item.end(), [](char c) { return c > 0x20 && c < 0x7f && c != '\\'; });
}

Json item_json(const std::string& name, const std::string& class_name, const std::string& title) {
  Json item = {{"_name", name}, {"_kind", "ROOT." + class_name}};
  if (!title.empty()) item["_title"] = title;
  return item;
}

Json& folder_at(Json& root, const std::vector<std::string>& names) {
  Json* folder = &root;
  for (const std::string& name : names) {
    Json& children = (*folder)["_childs"];
    auto found = std::find_if(children.begin(), children.end(),
                              [&](const Json& child) { return child.contains("_childs") && child["_name"] == name; });
    if (found == children.end()) {
      children.push_back({{"_name", name}, {"_kind", "ROOT.TFolder"}, {"_childs", Json::array()}});
      found = std::prev(children.end());
    }
    folder = &*found;
  }
  return *folder;
}

std::string run_title(const ArchivedRun& run) {
  std::string title = "run " + (run.run >= 0 ? std::to_string(run.run) : std::string("?"));
  if (!run.problem.empty()) return title + ", cannot be read: " + run.problem;
  if (!run.overall.empty()) title += ", " + run.overall;
  if (run.cut_short) title += ", cut short";
  return title;
}

}  // namespace

bool parse_protocol_path(std::string_view path, std::optional<ProtocolRequest>& request, std::string& problem) {
  request.reset();
  problem.clear();
  ProtocolRequest asked;
  if (strip_suffix(path, kHierarchy)) {
    asked.kind = ProtocolRequest::Kind::hierarchy;
  } else if (strip_suffix(path, kObjectGzip)) {
    asked.kind = ProtocolRequest::Kind::object;
    asked.gzip = true;
  } else if (strip_suffix(path, kObject)) {
    asked.kind = ProtocolRequest::Kind::object;
  } else {
    for (std::string_view refused : kRefused) {
      if (strip_suffix(path, refused)) {
        problem = std::string(refused) + " is not served: kivo's display is read-only and answers h.json and root.json";
        return true;
      }
    }
    return false;
  }
  if (!valid_item(path)) {
    problem = "not an item path: " + std::string(path);
    return true;
  }
  if (asked.kind == ProtocolRequest::Kind::object && path.empty()) {
    problem = "root.json needs an item: /ITEM/root.json";
    return true;
  }
  asked.item = std::string(path);
  request = std::move(asked);
  return true;
}

bool valid_compact(const std::string& compact) {
  if (compact.empty()) return true;
  int level = -1;
  const auto [end, status] = std::from_chars(compact.data(), compact.data() + compact.size(), level);
  if (status != std::errc() || end != compact.data() + compact.size()) return false;
  const int base = level % 100;
  return level >= 0 && level < 200 && base % 10 <= 3 && base / 10 <= 3;
}

std::string hierarchy_json(const std::vector<ShelfEntry>& entries, const std::vector<ArchivedRun>& runs,
                           int monitoring_ms) {
  Json root = {{"_name", ""},
               {"_kind", "ROOT.Session"},
               {"_title", "KIVO objects"},
               {"_monitoring", std::to_string(monitoring_ms)},
               {"_childs", Json::array()}};
  for (const ShelfEntry& entry : entries) {
    std::vector<std::string> names;
    std::size_t from = 0;
    for (std::size_t slash; (slash = entry.path.find('/', from)) != std::string::npos; from = slash + 1)
      names.push_back(entry.path.substr(from, slash - from));
    folder_at(root, names)["_childs"].push_back(item_json(entry.path.substr(from), entry.class_name, entry.title));
  }
  if (!runs.empty()) {
    Json& folder = folder_at(root, {std::string(kRunsFolder)});
    for (const ArchivedRun& run : runs) {
      Json item = item_json(run.file, "TFile", run_title(run));
      if (run.problem.empty()) item["_more"] = true;
      folder["_childs"].push_back(std::move(item));
    }
  }
  return root.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string file_hierarchy_json(const std::string& file, const rootcompat::FileKeys& keys) {
  Json item = {{"_name", file}, {"_kind", "ROOT.TFile"}, {"_childs", Json::array()}};
  if (!keys.title.empty()) item["_title"] = keys.title;
  for (const rootcompat::KeyRecord& key : keys.keys) {
    if (key.name == "StreamerInfo") continue;
    item["_childs"].push_back(item_json(key.name, key.className, key.title));
  }
  return item.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace kivo::web
