#include "TF1.h"

#include <cmath>

#include "TList.h"
#include "TROOT.h"

TF1::TF1() : fXmin(0), fXmax(1), fNpx(100), fNDF(0), fChisquare(0) {}

TF1::TF1(const char* name, const char* formula, Double_t xmin, Double_t xmax)
    : TFormula(name, formula), fNpx(100), fNDF(0), fChisquare(0) {
  fXmin = xmin < xmax ? xmin : xmax;
  fXmax = xmin < xmax ? xmax : xmin;
  fParErrors.assign(GetNpar(), 0.0);
  fParMin.assign(GetNpar(), 0.0);
  fParMax.assign(GetNpar(), 0.0);
  SetLineColor(2);
  SetLineWidth(2);
  SetFillStyle(0);
  TSeqCollection* functions = gROOT->GetListOfFunctions();
  if (TObject* old = functions->FindObject(GetName())) functions->Remove(old);
  functions->Add(this);
}

TF1::TF1(const TF1& f1)
    : TFormula(f1),
      TAttLine(f1),
      TAttFill(f1),
      TAttMarker(f1),
      fXmin(f1.fXmin),
      fXmax(f1.fXmax),
      fNpx(f1.fNpx),
      fNDF(f1.fNDF),
      fChisquare(f1.fChisquare),
      fParErrors(f1.fParErrors),
      fParMin(f1.fParMin),
      fParMax(f1.fParMax) {}

TF1& TF1::operator=(const TF1& rhs) {
  if (this == &rhs) return *this;
  TFormula::operator=(rhs);
  TAttLine::operator=(rhs);
  TAttFill::operator=(rhs);
  TAttMarker::operator=(rhs);
  fXmin = rhs.fXmin;
  fXmax = rhs.fXmax;
  fNpx = rhs.fNpx;
  fNDF = rhs.fNDF;
  fChisquare = rhs.fChisquare;
  fParErrors = rhs.fParErrors;
  fParMin = rhs.fParMin;
  fParMax = rhs.fParMax;
  return *this;
}

TF1::~TF1() {
  if (TSeqCollection* functions = gROOT->GetListOfFunctions()) functions->Remove(this);
}

TObject* TF1::Clone(const char* newname) const {
  auto* copy = new TF1(*this);
  if (newname && *newname) copy->SetName(newname);
  return copy;
}

void TF1::Draw(Option_t* option) { AppendPad(option); }

Double_t TF1::Eval(Double_t x, Double_t, Double_t, Double_t) const { return EvalPar(&x); }

Double_t TF1::GetParError(Int_t ipar) const {
  if (ipar < 0 || ipar >= Int_t(fParErrors.size())) return 0;
  return fParErrors[ipar];
}

void TF1::GetParLimits(Int_t ipar, Double_t& parmin, Double_t& parmax) const {
  parmin = 0;
  parmax = 0;
  if (ipar < 0 || ipar >= Int_t(fParMin.size())) return;
  parmin = fParMin[ipar];
  parmax = fParMax[ipar];
}

void TF1::GetRange(Double_t& xmin, Double_t& xmax) const {
  xmin = fXmin;
  xmax = fXmax;
}

void TF1::SetNpx(Int_t npx) { fNpx = npx < 4 ? 4 : npx; }

void TF1::SetParError(Int_t ipar, Double_t error) {
  if (ipar < 0 || ipar >= Int_t(fParErrors.size())) return;
  fParErrors[ipar] = error;
}

void TF1::SetParErrors(const Double_t* errors) {
  for (size_t i = 0; i < fParErrors.size(); ++i) fParErrors[i] = errors[i];
}

void TF1::SetParLimits(Int_t ipar, Double_t parmin, Double_t parmax) {
  if (ipar < 0 || ipar >= Int_t(fParMin.size())) return;
  fParMin[ipar] = parmin;
  fParMax[ipar] = parmax;
}

void TF1::SetRange(Double_t xmin, Double_t xmax) {
  fXmin = xmin;
  fXmax = xmax;
}
