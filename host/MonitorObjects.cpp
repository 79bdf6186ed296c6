#include "MonitorObjects.h"

#include "MonitorPlugin.h"
#include "OutputFile.h"
#include "RootJSON.h"
#include "TCanvas.h"
#include "TDirectory.h"
#include "TGraphAsymmErrors.h"
#include "TH1F.h"
#include "TH2F.h"
#include "TList.h"
#include "TROOT.h"

namespace kivo::host {

namespace {

constexpr int kStaves = 4;

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

HitMapSource MonitorObjects::hit_maps() const {
  HitMapSource source;
  source.maps = static_cast<TH2F* const*>(plugin_.global("h2d_chip_norm"));
  source.overview = reinterpret_cast<decltype(source.overview)>(plugin_.global("kivo_norm_overview"));
  source.region = reinterpret_cast<decltype(source.region)>(plugin_.global("kivo_norm_region"));
  return source;
}

void MonitorObjects::materialise_maps() const {
  if (auto materialise = reinterpret_cast<void (*)()>(plugin_.global("kivo_materialise_maps"))) materialise();
}

bool MonitorObjects::save(const std::string& path, std::string& error) const {
  materialise_maps();
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
  eventio::OutputFile file;
  if (file.open(path, error) && file.write(text, error) && file.commit(error)) return true;
  error = "cannot write " + error;
  return false;
}

}  // namespace kivo::host
