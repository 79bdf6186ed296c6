#include "TROOT.h"

#include "TCanvas.h"
#include "TList.h"
#include "TStyle.h"

TROOT::TROOT(const char* name, const char* title)
    : TDirectory(name, title),
      fCanvases(new TList),
      fCleanups(new TList),
      fFunctions(new TList),
      fStyles(new TList),
      fBatch(kTRUE) {}

TROOT::~TROOT() {
  delete fCanvases;
  delete fCleanups;
  delete fFunctions;
  delete fStyles;
}

TObject* TROOT::FindObject(const char* name) const {
  if (!name) return nullptr;
  if (TObject* obj = fFunctions->FindObject(name)) return obj;
  if (TObject* obj = fCanvases->FindObject(name)) return obj;
  if (TObject* obj = fStyles->FindObject(name)) return obj;
  if (gDirectory) {
    if (TObject* obj = gDirectory->TDirectory::FindObject(name)) return obj;
  }
  if (gPad) {
    TVirtualPad* canvas = gPad->GetVirtCanvas();
    if (canvas && fCanvases->FindObject(static_cast<TObject*>(canvas))) {
      if (TObject* obj = canvas->FindObject(name)) return obj;
      if (canvas != gPad) return gPad->FindObject(name);
    }
  }
  return nullptr;
}

void TROOT::MakeDefCanvas() const { new TCanvas("c1", "c1", 700, 500); }

void TROOT::RecursiveRemove(TObject* obj) {
  fCanvases->RecursiveRemove(obj);
  fFunctions->RecursiveRemove(obj);
  fCleanups->RecursiveRemove(obj);
  TDirectory::RecursiveRemove(obj);
  if (gPad == obj) gPad = nullptr;
}

namespace ROOT {

TROOT* GetROOT() {
  // Never destroyed: objects still alive at exit may look it up from their destructors.
  static TROOT* root = new TROOT("root", "The ROOT of EVERYTHING");
  return root;
}

}  // namespace ROOT
