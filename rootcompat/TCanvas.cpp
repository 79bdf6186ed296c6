#include "TCanvas.h"

#include "CanvasPublisher.h"
#include "TList.h"
#include "TROOT.h"
#include "TStyle.h"

TCanvas::TCanvas() : fCw(0), fCh(0) { fCanvas = this; }

TCanvas::TCanvas(const char* name, const char* title, Int_t ww, Int_t wh)
    : fCw(ww > 0 ? UInt_t(ww) : 0), fCh(wh > 0 ? UInt_t(wh) : 0) {
  TSeqCollection* canvases = gROOT->GetListOfCanvases();
  if (auto* old = dynamic_cast<TCanvas*>(canvases->FindObject(name))) {
    Warning("Constructor", "Deleting canvas with same name: %s", name);
    delete old;
  }
  fName = name ? name : "";
  fTitle = title ? title : "";
  fCanvas = this;
  SetFillColor(gStyle->GetCanvasColor());
  fBorderSize = gStyle->GetCanvasBorderSize();
  fBorderMode = Short_t(gStyle->GetCanvasBorderMode());
  canvases->Add(this);
  cd();
}

TCanvas::~TCanvas() {
  gROOT->GetListOfCanvases()->Remove(this);
  if (gPad && (gPad == this || gPad->GetCanvas() == this))
    gPad = dynamic_cast<TCanvas*>(gROOT->GetListOfCanvases()->Last());
}

TVirtualPad* TCanvas::cd(Int_t subpadnumber) { return TPad::cd(subpadnumber); }

void TCanvas::Draw(Option_t*) {
  TSeqCollection* canvases = gROOT->GetListOfCanvases();
  if (!canvases->FindObject(static_cast<TObject*>(this))) canvases->Add(this);
  Modified();
}

void TCanvas::Update() {
  rootcompat::PublishCanvas(*this);
  Modified(kFALSE);
}
