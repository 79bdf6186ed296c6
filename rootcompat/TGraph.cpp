#include <algorithm>
#include <cctype>
#include <string>

#include "TGraphAsymmErrors.h"
#include "TList.h"
#include "TROOT.h"
#include "TVirtualPad.h"

TGraph::TGraph() : fNpoints(0), fFunctions(new TList), fMinimum(-1111), fMaximum(-1111) {}

TGraph::TGraph(Int_t n) : TGraph() {
  SetNameTitle("Graph", "Graph");
  Set(n);
}

TGraph::TGraph(Int_t n, const Double_t* x, const Double_t* y) : TGraph(n) {
  for (Int_t i = 0; i < fNpoints; ++i) {
    fX[i] = x[i];
    fY[i] = y[i];
  }
}

TGraph::TGraph(const TGraph& gr)
    : TNamed(gr),
      TAttLine(gr),
      TAttFill(gr),
      TAttMarker(gr),
      fNpoints(gr.fNpoints),
      fX(gr.fX),
      fY(gr.fY),
      fFunctions(new TList),
      fMinimum(gr.fMinimum),
      fMaximum(gr.fMaximum) {
  TIter next(gr.fFunctions);
  while (TObject* obj = next()) fFunctions->Add(obj->Clone(), next.GetOption());
}

TGraph& TGraph::operator=(const TGraph& gr) {
  if (this == &gr) return *this;
  TNamed::operator=(gr);
  TAttLine::operator=(gr);
  TAttFill::operator=(gr);
  TAttMarker::operator=(gr);
  fNpoints = gr.fNpoints;
  fX = gr.fX;
  fY = gr.fY;
  fMinimum = gr.fMinimum;
  fMaximum = gr.fMaximum;
  fFunctions->Delete();
  TIter next(gr.fFunctions);
  while (TObject* obj = next()) fFunctions->Add(obj->Clone(), next.GetOption());
  return *this;
}

TGraph::~TGraph() {
  fFunctions->SetOwner(kTRUE);
  delete fFunctions;
}

TObject* TGraph::Clone(const char* newname) const {
  auto* copy = new TGraph(*this);
  if (newname && *newname) copy->SetName(newname);
  return copy;
}

void TGraph::Draw(Option_t* chopt) {
  // Stored lower-case without "same", as ROOT does; "a" (axes) clears the pad.
  std::string opt = chopt ? chopt : "";
  for (char& c : opt) c = char(std::tolower(static_cast<unsigned char>(c)));
  for (size_t pos; (pos = opt.find("same")) != std::string::npos;) opt.erase(pos, 4);
  if (gPad) {
    if (!gPad->IsEditable()) gROOT->MakeDefCanvas();
    if (opt.find('a') != std::string::npos) gPad->Clear();
  }
  AppendPad(opt.c_str());
}

Int_t TGraph::GetPoint(Int_t i, Double_t& x, Double_t& y) const {
  if (i < 0 || i >= fNpoints) return -1;
  x = fX[i];
  y = fY[i];
  return i;
}

void TGraph::Set(Int_t n) {
  if (n < 0) n = 0;
  ResizeArrays(n);
  fNpoints = n;
}

void TGraph::SetPoint(Int_t i, Double_t x, Double_t y) {
  if (i < 0) return;
  if (i >= fNpoints) Set(i + 1);
  fX[i] = x;
  fY[i] = y;
}

void TGraph::ResizeArrays(Int_t n) {
  fX.resize(n, 0.0);
  fY.resize(n, 0.0);
}

TGraphAsymmErrors::TGraphAsymmErrors() = default;

TGraphAsymmErrors::TGraphAsymmErrors(Int_t n) {
  SetNameTitle("Graph", "Graph");
  Set(n);
}

TObject* TGraphAsymmErrors::Clone(const char* newname) const {
  auto* copy = new TGraphAsymmErrors(*this);
  if (newname && *newname) copy->SetName(newname);
  return copy;
}

Double_t TGraphAsymmErrors::GetErrorXlow(Int_t i) const { return i >= 0 && i < fNpoints ? fEXlow[i] : -1; }

Double_t TGraphAsymmErrors::GetErrorXhigh(Int_t i) const { return i >= 0 && i < fNpoints ? fEXhigh[i] : -1; }

Double_t TGraphAsymmErrors::GetErrorYlow(Int_t i) const { return i >= 0 && i < fNpoints ? fEYlow[i] : -1; }

Double_t TGraphAsymmErrors::GetErrorYhigh(Int_t i) const { return i >= 0 && i < fNpoints ? fEYhigh[i] : -1; }

void TGraphAsymmErrors::SetPointError(Int_t i, Double_t exl, Double_t exh, Double_t eyl, Double_t eyh) {
  if (i < 0) return;
  if (i >= fNpoints) SetPoint(i, 0, 0);
  fEXlow[i] = exl;
  fEXhigh[i] = exh;
  fEYlow[i] = eyl;
  fEYhigh[i] = eyh;
}

void TGraphAsymmErrors::ResizeArrays(Int_t n) {
  TGraph::ResizeArrays(n);
  fEXlow.resize(n, 0.0);
  fEXhigh.resize(n, 0.0);
  fEYlow.resize(n, 0.0);
  fEYhigh.resize(n, 0.0);
}
