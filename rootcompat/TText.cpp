#include "TLatex.h"
#include "TText.h"

TText::TText() : fX(0), fY(0) {}

TText::TText(Double_t x, Double_t y, const char* text) : TNamed("", text), fX(x), fY(y) {}

TObject* TText::Clone(const char* newname) const {
  auto* copy = new TText(*this);
  if (newname && *newname) copy->SetName(newname);
  return copy;
}

TText* TText::DrawText(Double_t x, Double_t y, const char* text) {
  auto* copy = new TText(x, y, text);
  TAttText::Copy(*copy);
  copy->SetBit(kCanDelete);
  if (TestBit(kTextNDC)) copy->SetNDC();
  copy->AppendPad();
  return copy;
}

void TText::SetNDC(Bool_t isNDC) {
  ResetBit(kTextNDC);
  if (isNDC) SetBit(kTextNDC);
}

void TText::SetText(Double_t x, Double_t y, const char* text) {
  fX = x;
  fY = y;
  SetTitle(text);
}

TLatex::TLatex() : fLimitFactorSize(3), fOriginSize(0.04) { SetLineWidth(2); }

TLatex::TLatex(Double_t x, Double_t y, const char* text) : TText(x, y, text), fLimitFactorSize(3), fOriginSize(0.04) {
  SetLineWidth(2);
}

TObject* TLatex::Clone(const char* newname) const {
  auto* copy = new TLatex(*this);
  if (newname && *newname) copy->SetName(newname);
  return copy;
}

TLatex* TLatex::DrawLatex(Double_t x, Double_t y, const char* text) {
  auto* copy = new TLatex(x, y, text);
  TAttText::Copy(*copy);
  TAttLine::Copy(*copy);
  copy->SetBit(kCanDelete);
  if (TestBit(kTextNDC)) copy->SetNDC();
  copy->AppendPad();
  return copy;
}
