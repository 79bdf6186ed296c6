#include "MonitorObjects.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <utility>

#include "MonitorPlugin.h"
#include "RootJSON.h"
#include "TCanvas.h"
#include "TDirectory.h"
#include "TGraphAsymmErrors.h"
#include "TH1F.h"
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

bool MonitorObjects::save(const std::string& path, std::string& error) const {
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
  std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out || !(out << text) || !out.flush()) {
      error = "cannot write " + temporary;
      std::remove(temporary.c_str());
      return false;
    }
  }
  std::error_code failure;
  std::filesystem::rename(temporary, path, failure);
  if (failure) {
    error = "cannot rename " + temporary + " to " + path + ": " + failure.message();
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace kivo::host
