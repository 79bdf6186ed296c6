#include "TH1.h"

#include <cctype>
#include <climits>
#include <cmath>
#include <cstring>
#include <string>

#include "TDirectory.h"
#include "TF1.h"
#include "TList.h"
#include "TROOT.h"
#include "TStyle.h"
#include "TVirtualPad.h"

Bool_t TH1::fgAddDirectory = kTRUE;
Bool_t TH1::fgStatOverflows = kFALSE;

namespace {

std::string Lowered(Option_t* option) {
  std::string opt = option ? option : "";
  for (char& c : opt) c = char(std::tolower(static_cast<unsigned char>(c)));
  return opt;
}

std::string Uppered(Option_t* option) {
  std::string opt = option ? option : "";
  for (char& c : opt) c = char(std::toupper(static_cast<unsigned char>(c)));
  return opt;
}

}  // namespace

TH1::TH1()
    : fNcells(3),
      fBarOffset(0),
      fBarWidth(1000),
      fEntries(0),
      fTsumw(0),
      fTsumw2(0),
      fTsumwx(0),
      fTsumwx2(0),
      fMaximum(-1111),
      fMinimum(-1111),
      fNormFactor(0),
      fFunctions(new TList),
      fDirectory(nullptr),
      fDimension(1) {
  fXaxis.SetName("xaxis");
  fYaxis.SetName("yaxis");
  fZaxis.SetName("zaxis");
  SetAxisParents();
}

TH1::TH1(const char* name, const char* title, Int_t nbinsx, Double_t xlow, Double_t xup) : TH1() {
  fName = name ? name : "";
  if (nbinsx <= 0) {
    Warning("TH1", "nbins is <=0 - set to nbins = 1");
    nbinsx = 1;
  }
  if (nbinsx > INT_MAX / 2) {
    Error("TH1", "nbins %d is too large - set to nbins = %d", nbinsx, INT_MAX / 2);
    nbinsx = INT_MAX / 2;
  }
  fXaxis.Set(nbinsx, xlow, xup);
  fNcells = fXaxis.GetNbins() + 2;
  SetTitle(title);
  fLineColor = gStyle->GetHistLineColor();
  fLineStyle = gStyle->GetHistLineStyle();
  fLineWidth = gStyle->GetHistLineWidth();
  fFillColor = gStyle->GetHistFillColor();
  fFillStyle = gStyle->GetHistFillStyle();
  AddToDirectory(kTRUE);
}

TH1::~TH1() {
  if (fDirectory) fDirectory->Remove(this);
  fDirectory = nullptr;
  fFunctions->SetOwner(kTRUE);
  delete fFunctions;
}

void TH1::AddToDirectory(Bool_t replace) {
  if (!fgAddDirectory || !gDirectory) return;
  gDirectory->Append(this, replace);
  fDirectory = gDirectory;
}

TH1* TH1::FinishClone(TH1* copy, const char* newname) const {
  TIter next(fFunctions);
  while (TObject* obj = next()) copy->fFunctions->Add(obj->Clone(), next.GetOption());
  if (newname && *newname) copy->SetName(newname);
  copy->AddToDirectory(kFALSE);
  return copy;
}

void TH1::SetAxisParents() {
  fXaxis.SetParent(this);
  fYaxis.SetParent(this);
  fZaxis.SetParent(this);
}

void TH1::Copy(TObject& obj) const {
  auto& h = static_cast<TH1&>(obj);
  if (h.fDirectory) {
    h.fDirectory->Remove(&h);
    h.fDirectory = nullptr;
  }
  TNamed::Copy(h);
  TAttLine::Copy(h);
  TAttFill::Copy(h);
  TAttMarker::Copy(h);
  h.fDimension = fDimension;
  h.fNormFactor = fNormFactor;
  h.fNcells = fNcells;
  h.fBarOffset = fBarOffset;
  h.fBarWidth = fBarWidth;
  h.fOption = fOption;
  h.fEntries = fEntries;
  h.fTsumw = fTsumw;
  h.fTsumw2 = fTsumw2;
  h.fTsumwx = fTsumwx;
  h.fTsumwx2 = fTsumwx2;
  h.fMaximum = fMaximum;
  h.fMinimum = fMinimum;
  fXaxis.Copy(h.fXaxis);
  fYaxis.Copy(h.fYaxis);
  fZaxis.Copy(h.fZaxis);
  h.SetAxisParents();
  h.fContour = fContour;
  h.fSumw2 = fSumw2;
}

void TH1::Draw(Option_t* option) {
  if (gPad) {
    if (!gPad->IsEditable()) gROOT->MakeDefCanvas();
    if (Lowered(option).find("same") == std::string::npos) {
      if (TestBit(kCanDelete)) gPad->GetListOfPrimitives()->Remove(this);
      gPad->Clear();
    }
  }
  AppendPad(option);
}

TH1* TH1::DrawCopy(Option_t* option) const {
  if (gPad && Lowered(option).find("same") == std::string::npos) gPad->Clear();
  auto* copy = static_cast<TH1*>(Clone());
  copy->SetDirectory(nullptr);
  copy->SetBit(kCanDelete);
  copy->AppendPad(option);
  return copy;
}

void TH1::SetName(const char* name) {
  if (fDirectory) fDirectory->Remove(this);
  fName = name ? name : "";
  if (fDirectory) fDirectory->Append(this);
}

void TH1::SetTitle(const char* title) {
  // "title;x title;y title;z title": the parts after ';' go to the axes.
  const std::string full = title ? title : "";
  const size_t first = full.find(';');
  fTitle = full.substr(0, first);
  if (first == std::string::npos) return;
  const std::string rest = full.substr(first + 1);
  const size_t second = rest.find(';');
  fXaxis.SetTitle(rest.substr(0, second).c_str());
  if (second == std::string::npos) return;
  const std::string tail = rest.substr(second + 1);
  const size_t third = tail.find(';');
  fYaxis.SetTitle(tail.substr(0, third).c_str());
  if (third != std::string::npos) fZaxis.SetTitle(tail.substr(third + 1).c_str());
}

Int_t TH1::Fill(Double_t x) {
  return FillWith(x, [this](Int_t bin) { AddBinContent(bin); });
}

Int_t TH1::Fill(Double_t x, Double_t w) {
  return FillWith(x, w, [this](Int_t bin, Double_t weight) { AddBinContent(bin, weight); });
}

Int_t TH1::FindBin(Double_t x, Double_t, Double_t) { return fXaxis.FindBin(x); }

Int_t TH1::GetBin(Int_t binx, Int_t biny, Int_t binz) const {
  const Int_t ofx = fXaxis.GetNbins() + 2;
  if (binx < 0) binx = 0;
  if (binx >= ofx) binx = ofx - 1;
  if (fDimension == 1) return binx;
  const Int_t ofy = fYaxis.GetNbins() + 2;
  if (biny < 0) biny = 0;
  if (biny >= ofy) biny = ofy - 1;
  if (fDimension == 2) return binx + ofx * biny;
  const Int_t ofz = fZaxis.GetNbins() + 2;
  if (binz < 0) binz = 0;
  if (binz >= ofz) binz = ofz - 1;
  return binx + ofx * (biny + ofy * binz);
}

Double_t TH1::GetBinContent(Int_t bin) const {
  if (bin >= fNcells) bin = fNcells - 1;
  if (bin < 0) bin = 0;
  return RetrieveBinContent(bin);
}

Double_t TH1::GetBinContent(Int_t binx, Int_t biny) const { return GetBinContent(GetBin(binx, biny)); }

Double_t TH1::GetBinContent(Int_t binx, Int_t biny, Int_t binz) const {
  return GetBinContent(GetBin(binx, biny, binz));
}

void TH1::SetBinContent(Int_t bin, Double_t content) {
  fEntries++;
  fTsumw = 0;
  if (bin < 0 || bin >= fNcells) return;
  UpdateBinContent(bin, content);
}

void TH1::SetBinContent(Int_t binx, Int_t biny, Double_t content) {
  if (binx < 0 || binx > fXaxis.GetNbins() + 1) return;
  if (biny < 0 || biny > fYaxis.GetNbins() + 1) return;
  SetBinContent(GetBin(binx, biny), content);
}

void TH1::SetBinContent(Int_t binx, Int_t biny, Int_t binz, Double_t content) {
  if (binx < 0 || binx > fXaxis.GetNbins() + 1) return;
  if (biny < 0 || biny > fYaxis.GetNbins() + 1) return;
  if (binz < 0 || binz > fZaxis.GetNbins() + 1) return;
  SetBinContent(GetBin(binx, biny, binz), content);
}

Double_t TH1::GetBinError(Int_t bin) const {
  if (bin < 0) bin = 0;
  if (bin >= fNcells) bin = fNcells - 1;
  if (fSumw2.fN) return std::sqrt(fSumw2.fArray[bin]);
  return std::sqrt(std::fabs(RetrieveBinContent(bin)));
}

Double_t TH1::GetBinError(Int_t binx, Int_t biny) const { return GetBinError(GetBin(binx, biny)); }

Double_t TH1::GetBinError(Int_t binx, Int_t biny, Int_t binz) const { return GetBinError(GetBin(binx, biny, binz)); }

void TH1::SetBinError(Int_t bin, Double_t error) {
  if (bin < 0 || bin >= fNcells) return;
  if (!fSumw2.fN) Sumw2();
  fSumw2.fArray[bin] = error * error;
}

void TH1::SetBinError(Int_t binx, Int_t biny, Double_t error) {
  if (binx < 0 || binx > fXaxis.GetNbins() + 1) return;
  if (biny < 0 || biny > fYaxis.GetNbins() + 1) return;
  SetBinError(GetBin(binx, biny), error);
}

void TH1::SetBinError(Int_t binx, Int_t biny, Int_t binz, Double_t error) {
  if (binx < 0 || binx > fXaxis.GetNbins() + 1) return;
  if (biny < 0 || biny > fYaxis.GetNbins() + 1) return;
  if (binz < 0 || binz > fZaxis.GetNbins() + 1) return;
  SetBinError(GetBin(binx, biny, binz), error);
}

Double_t TH1::GetEffectiveEntries() const {
  Double_t s[kNstat] = {};
  GetStats(s);
  return s[1] ? s[0] * s[0] / s[1] : std::fabs(s[0]);
}

void TH1::GetStats(Double_t* stats) const {
  if ((fTsumw == 0 && fEntries > 0) || fXaxis.TestBit(TAxis::kAxisRange)) {
    for (Int_t i = 0; i < 4; ++i) stats[i] = 0;
    Int_t firstBinX = fXaxis.GetFirst();
    Int_t lastBinX = fXaxis.GetLast();
    if (fgStatOverflows && !fXaxis.TestBit(TAxis::kAxisRange)) {
      if (firstBinX == 1) firstBinX = 0;
      if (lastBinX == fXaxis.GetNbins()) lastBinX += 1;
    }
    for (Int_t binx = firstBinX; binx <= lastBinX; ++binx) {
      const Double_t x = fXaxis.GetBinCenter(binx);
      const Double_t w = std::fabs(GetBinContent(binx));
      const Double_t err = std::fabs(GetBinError(binx));
      stats[0] += w;
      stats[1] += err * err;
      stats[2] += w * x;
      stats[3] += w * x * x;
    }
  } else {
    stats[0] = fTsumw;
    stats[1] = fTsumw2;
    stats[2] = fTsumwx;
    stats[3] = fTsumwx2;
  }
}

void TH1::PutStats(Double_t* stats) {
  fTsumw = stats[0];
  fTsumw2 = stats[1];
  fTsumwx = stats[2];
  fTsumwx2 = stats[3];
}

void TH1::ResetStats() {
  Double_t stats[kNstat] = {};
  fTsumw = 0;
  fEntries = 1;  // forces GetStats to rebuild the sums from the bins
  GetStats(stats);
  PutStats(stats);
  fEntries = std::fabs(fTsumw);
  if (fSumw2.fN > 0 && fTsumw > 0 && stats[1] > 0) fEntries = stats[0] * stats[0] / stats[1];
}

Double_t TH1::GetSumOfWeights() const {
  Double_t sum = 0;
  for (Int_t binz = 1; binz <= fZaxis.GetNbins(); ++binz)
    for (Int_t biny = 1; biny <= fYaxis.GetNbins(); ++biny)
      for (Int_t binx = 1; binx <= fXaxis.GetNbins(); ++binx) sum += GetBinContent(GetBin(binx, biny, binz));
  return sum;
}

Double_t TH1::GetMean(Int_t axis) const {
  if (axis < 1 || axis > 3) return 0;
  Double_t stats[kNstat] = {};
  GetStats(stats);
  if (stats[0] == 0) return 0;
  const Int_t ax[3] = {2, 4, 7};
  return stats[ax[axis - 1]] / stats[0];
}

Double_t TH1::GetRMS(Int_t axis) const {
  if (axis < 1 || axis > 3) return 0;
  Double_t stats[kNstat] = {};
  GetStats(stats);
  if (stats[0] == 0) return 0;
  const Int_t ax[3] = {2, 4, 7};
  const Int_t axm = ax[axis - 1];
  const Double_t x = stats[axm] / stats[0];
  return std::sqrt(std::fabs(stats[axm + 1] / stats[0] - x * x));
}

Double_t TH1::Integral(Option_t* option) const { return Integral(fXaxis.GetFirst(), fXaxis.GetLast(), option); }

Double_t TH1::Integral(Int_t binx1, Int_t binx2, Option_t* option) const {
  const Int_t nbinsx = fXaxis.GetNbins() + 2;
  if (binx1 < 0) binx1 = 0;
  if (binx2 >= nbinsx || binx2 < binx1) binx2 = nbinsx - 1;
  const bool width = Lowered(option).find("width") != std::string::npos;
  Double_t sum = 0;
  for (Int_t binx = binx1; binx <= binx2; ++binx)
    sum += GetBinContent(binx) * (width ? fXaxis.GetBinWidth(binx) : 1.0);
  return sum;
}

Int_t TH1::GetMaximumBin() const {
  Double_t maximum = -FLT_MAX;
  Int_t locm = 0;
  for (Int_t binz = fZaxis.GetFirst(); binz <= fZaxis.GetLast(); ++binz)
    for (Int_t biny = fYaxis.GetFirst(); biny <= fYaxis.GetLast(); ++biny)
      for (Int_t binx = fXaxis.GetFirst(); binx <= fXaxis.GetLast(); ++binx) {
        const Int_t bin = GetBin(binx, biny, binz);
        const Double_t value = GetBinContent(bin);
        if (value > maximum) {
          maximum = value;
          locm = bin;
        }
      }
  return locm;
}

Double_t TH1::GetMaximum(Double_t maxval) const {
  if (fMaximum != -1111) return fMaximum;
  Double_t maximum = -FLT_MAX;
  for (Int_t binz = fZaxis.GetFirst(); binz <= fZaxis.GetLast(); ++binz)
    for (Int_t biny = fYaxis.GetFirst(); biny <= fYaxis.GetLast(); ++biny)
      for (Int_t binx = fXaxis.GetFirst(); binx <= fXaxis.GetLast(); ++binx) {
        const Double_t value = GetBinContent(GetBin(binx, biny, binz));
        if (value > maximum && value < maxval) maximum = value;
      }
  return maximum;
}

Double_t TH1::GetMinimum(Double_t minval) const {
  if (fMinimum != -1111) return fMinimum;
  Double_t minimum = FLT_MAX;
  for (Int_t binz = fZaxis.GetFirst(); binz <= fZaxis.GetLast(); ++binz)
    for (Int_t biny = fYaxis.GetFirst(); biny <= fYaxis.GetLast(); ++biny)
      for (Int_t binx = fXaxis.GetFirst(); binx <= fXaxis.GetLast(); ++binx) {
        const Double_t value = GetBinContent(GetBin(binx, biny, binz));
        if (value < minimum && value > minval) minimum = value;
      }
  return minimum;
}

void TH1::Reset(Option_t* option) {
  const std::string opt = Uppered(option);
  fSumw2.Reset();
  if (opt == "M") {
    SetMinimum();
    SetMaximum();
  }
  if (opt == "ICE" || opt == "ICES") return;
  fTsumw = 0;
  fTsumw2 = 0;
  fTsumwx = 0;
  fTsumwx2 = 0;
  fEntries = 0;
  TObject* stats = fFunctions->FindObject("stats");
  if (stats) fFunctions->Remove(stats);
  fFunctions->Delete();
  if (stats) fFunctions->Add(stats);
  fContour.Set(0);
}

void TH1::Scale(Double_t c1, Option_t*) {
  // Every cell (under/overflow included) times c1, errors times |c1|; the
  // statistics scale with it and the entries stay.
  Double_t stats[kNstat] = {};
  GetStats(stats);
  for (Int_t i = 0; i < kNstat; ++i) stats[i] *= (i == 1 ? c1 * c1 : c1);
  const Double_t entries = fEntries;
  SetMinimum();
  SetMaximum();
  for (Int_t bin = 0; bin < fNcells; ++bin) {
    UpdateBinContent(bin, c1 * RetrieveBinContent(bin));
    if (fSumw2.fN) fSumw2.fArray[bin] *= c1 * c1;
  }
  PutStats(stats);
  fEntries = entries;
}

void TH1::Sumw2() {
  if (fSumw2.fN) {
    Warning("Sumw2", "Sum of squares of weights structure already created");
    return;
  }
  fSumw2.Set(fNcells);
  if (fEntries > 0)
    for (Int_t bin = 0; bin < fNcells; ++bin) fSumw2.fArray[bin] = std::fabs(RetrieveBinContent(bin));
}

TF1* TH1::GetFunction(const char* name) const { return dynamic_cast<TF1*>(fFunctions->FindObject(name)); }

void TH1::SetDirectory(TDirectory* dir) {
  if (fDirectory == dir) return;
  if (fDirectory) fDirectory->Remove(this);
  fDirectory = dir;
  if (fDirectory) fDirectory->Append(this);
}

void TH1::AddDirectory(Bool_t add) { fgAddDirectory = add; }

Bool_t TH1::AddDirectoryStatus() { return fgAddDirectory; }

void TH1::StatOverflows(Bool_t flag) { fgStatOverflows = flag; }

void TH1::SetStats(Bool_t stats) {
  ResetBit(kNoStats);
  if (stats) return;
  SetBit(kNoStats);
  if (TObject* box = fFunctions->FindObject("stats")) {
    fFunctions->Remove(box);
    delete box;
  }
}

TH1F::TH1F() { TArrayF::Set(fNcells); }

TH1F::TH1F(const char* name, const char* title, Int_t nbinsx, Double_t xlow, Double_t xup)
    : TH1(name, title, nbinsx, xlow, xup) {
  TArrayF::Set(fNcells);
}

TH1F::TH1F(const TH1F& h1f) : TH1(), TArrayF() { h1f.TH1F::Copy(*this); }

TH1F& TH1F::operator=(const TH1F& h1) {
  if (this != &h1) h1.TH1F::Copy(*this);
  return *this;
}

TObject* TH1F::Clone(const char* newname) const { return FinishClone(new TH1F(*this), newname); }

void TH1F::Copy(TObject& hnew) const {
  TH1::Copy(hnew);
  TArrayF::Copy(static_cast<TH1F&>(hnew));
}

void TH1F::Reset(Option_t* option) {
  TH1::Reset(option);
  TArrayF::Reset();
}

TH1D::TH1D() { TArrayD::Set(fNcells); }

TH1D::TH1D(const char* name, const char* title, Int_t nbinsx, Double_t xlow, Double_t xup)
    : TH1(name, title, nbinsx, xlow, xup) {
  TArrayD::Set(fNcells);
}

TH1D::TH1D(const TH1D& h1d) : TH1(), TArrayD() { h1d.TH1D::Copy(*this); }

TH1D& TH1D::operator=(const TH1D& h1) {
  if (this != &h1) h1.TH1D::Copy(*this);
  return *this;
}

TObject* TH1D::Clone(const char* newname) const { return FinishClone(new TH1D(*this), newname); }

void TH1D::Copy(TObject& hnew) const {
  TH1::Copy(hnew);
  TArrayD::Copy(static_cast<TH1D&>(hnew));
}

void TH1D::Reset(Option_t* option) {
  TH1::Reset(option);
  TArrayD::Reset();
}
