#include "MonitorObjects.h"

#include "MonitorPlugin.h"
#include "OutputFile.h"
#include "RootJSON.h"
#include "TCanvas.h"
#include "TDirectory.h"
#include "TGraphAsymmErrors.h"
#include "TH1D.h"
#include "TList.h"
#include "TROOT.h"

namespace kivo::host {

namespace {

void add_all(TList& list, const TCollection* collection) {
  if (!collection) return;
  TIter next(collection);
  while (TObject* object = next()) list.Add(object);
}

}  // namespace

MonitorObjects::MonitorObjects(const MonitorPlugin& plugin) : plugin_(plugin) {}

int MonitorObjects::run() const { return *plugin_.symbols().kivo_run; }

long MonitorObjects::events() const {
  const TH1D* events = *plugin_.symbols().hnevnt;
  return events ? static_cast<long>(events->GetEntries()) : 0;
}

void MonitorObjects::materialise_maps() const { plugin_.symbols().materialise_maps(); }

bool MonitorObjects::save(const std::string& path, std::string& error) const {
  materialise_maps();
  TList objects;
  add_all(objects, gDirectory->GetList());
  for (TGraphAsymmErrors* graph : *plugin_.symbols().gmpos_chip) {
    if (graph) objects.Add(graph);
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
