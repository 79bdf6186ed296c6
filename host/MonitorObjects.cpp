#include "MonitorObjects.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "MonitorPlugin.h"
#include "OutputFile.h"
#include "RootFileWriter.h"
#include "RootJSON.h"
#include "TCanvas.h"
#include "TDirectory.h"
#include "TGraphAsymmErrors.h"
#include "TH1D.h"
#include "TList.h"
#include "TROOT.h"
#include "TStyle.h"

namespace kivo::host {

namespace {

void add_all(TList& list, const TCollection* collection) {
  if (!collection) return;
  TIter next(collection);
  while (TObject* object = next()) list.Add(object);
}

// The file's extension in lower case, with its dot.
std::string extension(const std::string& path) {
  std::string ext = std::filesystem::path(path).extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return ext;
}

}  // namespace

MonitorObjects::MonitorObjects(const MonitorPlugin& plugin) : plugin_(plugin) {}

int MonitorObjects::run() const { return *plugin_.symbols().kivo_run; }

long MonitorObjects::events() const {
  const TH1D* events = *plugin_.symbols().hnevnt;
  return events ? static_cast<long>(events->GetEntries()) : 0;
}

web::HitMapSource MonitorObjects::hit_maps() const {
  const MonitorSymbols& symbols = plugin_.symbols();
  return {*symbols.h2d_chip_norm, symbols.norm_overview, symbols.norm_region, symbols.recent_window,
          symbols.recent_blocks};
}

void MonitorObjects::collect(TList& objects) const {
  plugin_.symbols().materialise_maps();  // the maps are written whole
  list_monitor(objects);
  list_kept(objects);
}

void MonitorObjects::list_monitor(TList& objects) const {
  add_all(objects, gDirectory->GetList());
  for (TGraphAsymmErrors* graph : *plugin_.symbols().gmpos_chip) {
    if (graph) objects.Add(graph);
  }
}

void MonitorObjects::list_kept(TList& objects) const {
  if (keep_also_) keep_also_(objects);
}

bool MonitorObjects::save(const std::string& path, std::string& error) const {
  const std::string type = extension(path);
  if (type == ".root") {
    std::vector<rootcompat::StreamedObject> objects;
    return stream(objects, error) && write_root_file(path, std::move(objects), error);
  }
  if (type != ".json" && !path.empty()) {
    error = path + ": " + (type.empty() ? std::string("no file type") : "unknown file type '" + type + "'") +
            "; save() writes .json (ROOT JSON, with the canvas) or .root (a ROOT file)";
    return false;
  }
  TList objects;
  collect(objects);
  add_all(objects, gROOT->GetListOfCanvases());
  return write_file_atomically(path, rootcompat::ToJSON(objects), error);
}

bool MonitorObjects::stream(std::vector<rootcompat::StreamedObject>& objects, std::string& error) const {
  // As in the JSON the page draws: no statistics box once the canvas is drawn without them.
  const bool no_stats = gStyle && gStyle->GetOptStat() == 0;
  TList collected;
  collect(collected);
  TIter next(&collected);
  while (TObject* object = next()) {
    objects.emplace_back();
    if (!rootcompat::StreamObject(*object, nullptr, objects.back(), error, no_stats)) return false;
  }
  return true;
}

bool write_file_atomically(const std::string& path, const std::string& text, std::string& error) {
  if (path.empty()) {
    error = "no file name given";
    return false;
  }
  eventio::OutputFile file;
  if (file.open(path, error, eventio::OutputFile::SpecialFiles::refuse) && file.write(text, error) &&
      file.commit(error))
    return true;
  error = "cannot write " + error;
  return false;
}

bool write_root_file(const std::string& path, std::vector<rootcompat::StreamedObject> objects,
                     std::string& error) {
  const std::string name = std::filesystem::path(path).filename().string();
  std::string image;
  if (!rootcompat::FileImage(std::move(objects), name, image, error)) {
    error = "cannot write " + path + ": " + error;
    return false;
  }
  return write_file_atomically(path, image, error);
}

}  // namespace kivo::host
