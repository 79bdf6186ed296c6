#include "TPad.h"

#include <vector>

#include "TCanvas.h"
#include "TList.h"
#include "TROOT.h"
#include "TStyle.h"

namespace {

Double_t ClampNDC(Double_t v) { return v < 0 ? 0 : (v > 1 ? 1 : v); }

}  // namespace

TVirtualPad::~TVirtualPad() = default;

TVirtualPad*& TVirtualPad::Pad() {
  static TVirtualPad* current = nullptr;
  return current;
}

TPad::TPad()
    : fXlowNDC(0),
      fYlowNDC(0),
      fXUpNDC(1),
      fYUpNDC(1),
      fWNDC(1),
      fHNDC(1),
      fAbsXlowNDC(0),
      fAbsYlowNDC(0),
      fAbsWNDC(1),
      fAbsHNDC(1),
      fNumber(0),
      fTickx(gStyle->GetPadTickX()),
      fTicky(gStyle->GetPadTickY()),
      fLogx(gStyle->GetOptLogx()),
      fLogy(gStyle->GetOptLogy()),
      fLogz(gStyle->GetOptLogz()),
      fBorderSize(gStyle->GetPadBorderSize()),
      fBorderMode(Short_t(gStyle->GetPadBorderMode())),
      fModified(kTRUE),
      fGridx(gStyle->GetPadGridX()),
      fGridy(gStyle->GetPadGridY()),
      fEditable(kTRUE),
      fPrimitives(new TList),
      fCanvas(nullptr),
      fMother(nullptr) {
  SetFillColor(gStyle->GetPadColor());
  SetFillStyle(1001);
}

TPad::TPad(const char* name, const char* title, Double_t xlow, Double_t ylow, Double_t xup, Double_t yup,
           Color_t color, Short_t bordersize, Short_t bordermode)
    : TPad() {
  fName = name ? name : "";
  fTitle = title ? title : "";
  if (!gPad) {
    Error("TPad", "You must create a TCanvas before creating a TPad");
  } else {
    fMother = dynamic_cast<TPad*>(gPad);
    fCanvas = gPad->GetCanvas();
  }
  if (xlow < 0 || xlow > 1 || ylow < 0 || ylow > 1)
    Error("TPad", "illegal bottom left position: x=%f, y=%f", xlow, ylow);
  if (xup < 0 || xup > 1 || yup < 0 || yup > 1) Error("TPad", "illegal top right position: x=%f, y=%f", xup, yup);
  if (color >= 0) SetFillColor(color);
  if (bordersize >= 0) fBorderSize = bordersize;
  if (bordermode >= -1) fBorderMode = bordermode;
  SetPad(ClampNDC(xlow), ClampNDC(ylow), ClampNDC(xup), ClampNDC(yup));
}

TPad::~TPad() {
  if (gPad == this) gPad = fMother;
  std::vector<TPad*> children;
  TIter next(fPrimitives);
  while (TObject* obj = next())
    if (auto* pad = dynamic_cast<TPad*>(obj)) children.push_back(pad);
  for (TPad* pad : children) pad->Detach();
  fPrimitives->Clear();
  delete fPrimitives;
}

void TPad::Detach() {
  fMother = nullptr;
  fCanvas = nullptr;
  TIter next(fPrimitives);
  while (TObject* obj = next())
    if (auto* pad = dynamic_cast<TPad*>(obj)) pad->Detach();
}

TVirtualPad* TPad::cd(Int_t subpadnumber) {
  if (!subpadnumber) {
    gPad = this;
    return this;
  }
  TIter next(fPrimitives);
  while (TObject* obj = next())
    if (auto* pad = dynamic_cast<TPad*>(obj); pad && pad->GetNumber() == subpadnumber) return pad->cd();
  return nullptr;
}

void TPad::Clear(Option_t* option) {
  if (!IsEditable()) return;
  fPrimitives->Clear(option);
  cd();
}

void TPad::Draw(Option_t* option) {
  if (!gPad) gROOT->MakeDefCanvas();
  if (!gPad->IsEditable()) return;
  if (gPad == this) return;
  if (fMother) fMother->GetListOfPrimitives()->Remove(this);
  fCanvas = gPad->GetCanvas();
  fMother = dynamic_cast<TPad*>(gPad);
  ResizePad();
  SetBit(kMustCleanup);
  gPad->GetListOfPrimitives()->Add(this, option);
}

TObject* TPad::FindObject(const char* name) const {
  if (TObject* found = fPrimitives->FindObject(name)) return found;
  TIter next(fPrimitives);
  while (TObject* obj = next())
    if (auto* pad = dynamic_cast<TPad*>(obj))
      if (TObject* found = pad->TPad::FindObject(name)) return found;
  return nullptr;
}

TVirtualPad* TPad::GetVirtCanvas() const { return fCanvas; }

TObject* TPad::GetPrimitive(const char* name) const { return FindObject(name); }

void TPad::RecursiveRemove(TObject* obj) {
  const Int_t before = fPrimitives->GetSize();
  fPrimitives->RecursiveRemove(obj);
  if (before != fPrimitives->GetSize()) fModified = kTRUE;
}

void TPad::SetGrid(Int_t valuex, Int_t valuey) {
  fGridx = valuex != 0;
  fGridy = valuey != 0;
  Modified();
}

void TPad::SetPad(Double_t xlow, Double_t ylow, Double_t xup, Double_t yup) {
  fXlowNDC = xlow;
  fYlowNDC = ylow;
  fXUpNDC = xup;
  fYUpNDC = yup;
  fWNDC = xup - xlow;
  fHNDC = yup - ylow;
  ResizePad();
}

void TPad::SetTicks(Int_t valuex, Int_t valuey) {
  fTickx = valuex;
  fTicky = valuey;
  Modified();
}

void TPad::Update() {
  if (!fCanvas || fCanvas == this) return;
  fCanvas->Update();
}

void TPad::ResizePad() {
  if (fMother && fMother != this) {
    fAbsXlowNDC = fXlowNDC * fMother->GetAbsWNDC() + fMother->GetAbsXlowNDC();
    fAbsYlowNDC = fYlowNDC * fMother->GetAbsHNDC() + fMother->GetAbsYlowNDC();
    fAbsWNDC = fWNDC * fMother->GetAbsWNDC();
    fAbsHNDC = fHNDC * fMother->GetAbsHNDC();
  } else {
    fAbsXlowNDC = fXlowNDC;
    fAbsYlowNDC = fYlowNDC;
    fAbsWNDC = fWNDC;
    fAbsHNDC = fHNDC;
  }
  TIter next(fPrimitives);
  while (TObject* obj = next())
    if (auto* pad = dynamic_cast<TPad*>(obj)) pad->ResizePad();
}
