#include "TAxis.h"

#include <cstring>

#include "TH1.h"

TAxis::TAxis()
    : fNbins(1), fXmin(0), fXmax(1), fFirst(0), fLast(0), fTimeDisplay(kFALSE), fBits2(0), fParent(nullptr) {}

TAxis::TAxis(Int_t nbins, Double_t xmin, Double_t xmax) : TAxis() { Set(nbins, xmin, xmax); }

TAxis::TAxis(const TAxis& axis) : TNamed(axis), TAttAxis(axis) {
  fParent = nullptr;
  axis.Copy(*this);
}

TAxis& TAxis::operator=(const TAxis& rhs) {
  if (this != &rhs) rhs.Copy(*this);
  return *this;
}

void TAxis::Copy(TObject& obj) const {
  TNamed::Copy(obj);
  auto& axis = static_cast<TAxis&>(obj);
  TAttAxis::Copy(axis);
  axis.fNbins = fNbins;
  axis.fXmin = fXmin;
  axis.fXmax = fXmax;
  axis.fXbins = fXbins;
  axis.fFirst = fFirst;
  axis.fLast = fLast;
  axis.fTimeDisplay = fTimeDisplay;
  axis.fBits2 = fBits2;
  axis.fLabels = fLabels;
}

const char* TAxis::GetBinLabel(Int_t bin) const {
  for (const auto& [labelled, text] : fLabels)
    if (labelled == bin) return text.c_str();
  return "";
}

void TAxis::SetBinLabel(Int_t bin, const char* label) {
  if (bin <= 0 || bin > fNbins) {
    Error("SetBinLabel", "Illegal bin number: %d", bin);
    return;
  }
  const std::string text = label ? label : "";
  for (auto& [labelled, old] : fLabels) {
    if (labelled != bin) continue;
    old = text;
    return;
  }
  fLabels.emplace_back(bin, text);
  if (!(fBits2 & kNotAlpha) && Int_t(fLabels.size()) == fNbins) fBits2 |= kAlphanumeric | kCanExtend;
}

Int_t TAxis::FindBin(Double_t x) { return FindFixBin(x); }

Double_t TAxis::GetBinCenter(Int_t bin) const {
  const Double_t binwidth = (fXmax - fXmin) / Double_t(fNbins);
  return fXmin + (bin - 1) * binwidth + 0.5 * binwidth;
}

Double_t TAxis::GetBinLowEdge(Int_t bin) const {
  const Double_t binwidth = (fXmax - fXmin) / Double_t(fNbins);
  return fXmin + (bin - 1) * binwidth;
}

Double_t TAxis::GetBinUpEdge(Int_t bin) const {
  const Double_t binwidth = (fXmax - fXmin) / Double_t(fNbins);
  return fXmin + bin * binwidth;
}

Double_t TAxis::GetBinWidth(Int_t) const { return (fXmax - fXmin) / Double_t(fNbins); }

Int_t TAxis::GetFirst() const { return TestBit(kAxisRange) ? fFirst : 1; }

Int_t TAxis::GetLast() const { return TestBit(kAxisRange) ? fLast : fNbins; }

void TAxis::Set(Int_t nbins, Double_t xmin, Double_t xmax) {
  fNbins = nbins > 0 ? nbins : 1;
  fXmin = xmin;
  fXmax = xmax;
  if (!(fXmin < fXmax)) fXmax = fXmin + 1;
  fXbins.Set(0);
}

void TAxis::SetRange(Int_t first, Int_t last) {
  if (last == 0) last = fNbins;
  if (last > fNbins) last = fNbins;
  if (last < first) first = 1;
  if (first < 1) first = 1;
  if (first == 1 && last == fNbins) {
    SetBit(kAxisRange, kFALSE);
    fFirst = 0;
    fLast = 0;
  } else {
    SetBit(kAxisRange, kTRUE);
    fFirst = first;
    fLast = last;
  }
}

void TAxis::SetRangeUser(Double_t ufirst, Double_t ulast) {
  // On the value axis of a histogram (y of 1D, z of 2D) the range is the
  // histogram's minimum and maximum.
  if (std::strcmp(GetName(), "xaxis") != 0) {
    auto* hobj = dynamic_cast<TH1*>(fParent);
    if (hobj && ((hobj->GetDimension() == 2 && std::strcmp(GetName(), "zaxis") == 0) ||
                 (hobj->GetDimension() == 1 && std::strcmp(GetName(), "yaxis") == 0))) {
      hobj->SetMinimum(ufirst);
      hobj->SetMaximum(ulast);
      return;
    }
  }
  SetRange(FindFixBin(ufirst), FindFixBin(ulast));
}

void TAxis::UnZoom() {
  SetBit(kAxisRange, kFALSE);
  fFirst = 0;
  fLast = 0;
}
