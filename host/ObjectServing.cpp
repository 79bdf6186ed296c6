#include "ObjectServing.h"

#include <string>
#include <utility>

#include "DetachedHistograms.h"
#include "TCanvas.h"
#include "TGraph.h"
#include "TH1.h"
#include "TH2.h"
#include "TList.h"
#include "TROOT.h"

namespace kivo::host {

namespace {

constexpr const char* kQualityFolder = "Quality/";
constexpr const char* kCanvasFolder = "Canvases/";

// Objects in their folders, in the order of the hierarchy.
struct Placed {
  std::string path;
  TObject* object;
};

void place(std::vector<Placed>& placed, const TCollection* list, const std::string& folder) {
  if (!list) return;
  TIter next(list);
  while (TObject* object = next()) {
    const std::string name = object->GetName();
    // A name that is no path segment cannot be asked for.
    if (name.empty() || name.find('/') != std::string::npos) continue;
    placed.push_back({folder + name, object});
  }
}

std::vector<Placed> placed_objects(const MonitorObjects& objects) {
  TList monitor, kept;
  objects.list_monitor(monitor);
  objects.list_kept(kept);
  std::vector<Placed> placed;
  place(placed, &monitor, "");
  place(placed, &kept, kQualityFolder);
  place(placed, gROOT->GetListOfCanvases(), kCanvasFolder);
  return placed;
}

long cells_of(const TObject& object) {
  if (auto* histogram = dynamic_cast<const TH1*>(&object)) return histogram->GetNcells();
  if (auto* graph = dynamic_cast<const TGraph*>(&object)) return 6L * graph->GetN();
  return 1;
}

}  // namespace

std::vector<web::ShelfEntry> shelf_entries(const MonitorObjects& objects) {
  std::vector<web::ShelfEntry> entries;
  for (const Placed& placed : placed_objects(objects))
    entries.push_back({placed.path, placed.object->ClassName(), placed.object->GetTitle(), cells_of(*placed.object)});
  return entries;
}

void serve_objects(web::ObjectShelf& shelf, const MonitorObjects& objects, const MonitorPlugin& plugin, long version) {
  if (!shelf.wanted()) return;
  const std::vector<std::string> paths = shelf.take(version);
  if (paths.empty()) return;
  std::vector<Placed> placed = placed_objects(objects);
  const auto find = [&placed](const std::string& path) -> TObject* {
    for (const Placed& p : placed)
      if (p.path == path) return p.object;
    return nullptr;
  };
  bool maps_whole = false;
  web::DetachedHistograms detached;
  std::vector<std::pair<std::string, std::unique_ptr<TObject>>> copies;
  for (const std::string& path : paths) {
    TObject* object = find(path);
    if (dynamic_cast<const TH2*>(object) && !maps_whole) {
      plugin.symbols().materialise_maps();
      maps_whole = true;
    }
    // A canvas is served from the live view, at the resolution the page draws it.
    const bool copyable = object && !dynamic_cast<const TCanvas*>(object);
    copies.emplace_back(path, copyable ? std::unique_ptr<TObject>(object->Clone()) : nullptr);
  }
  shelf.put(std::move(copies), version);
}

}  // namespace kivo::host
