#include "TFormula.h"

#include <cmath>
#include <cstring>

namespace {

// ROOT's number for the predefined "gaus" formula.
constexpr Int_t kGausNumber = 100;

}  // namespace

TFormula::TFormula() : fNumber(0) {}

TFormula::TFormula(const char* name, const char* expression)
    : TNamed(name, expression), fFormula(expression ? expression : ""), fNumber(0) {
  if (fFormula == "gaus") {
    fNumber = kGausNumber;
    fParams.assign(3, 0.0);
    fNames = {"Constant", "Mean", "Sigma"};
    return;
  }
  Error("TFormula", "formula \"%s\" is not supported (only \"gaus\")", fFormula.c_str());
}

Double_t TFormula::EvalPar(const Double_t* x, const Double_t* params) const {
  const Double_t* p = params ? params : fParams.data();
  if (fNumber != kGausNumber) return 0;
  if (p[2] == 0) return p[0] * 1.e30;
  const Double_t arg = (x[0] - p[1]) / p[2];
  return p[0] * std::exp(-0.5 * arg * arg);
}

Double_t TFormula::GetParameter(Int_t ipar) const {
  if (ipar < 0 || ipar >= GetNpar()) return 0;
  return fParams[ipar];
}

Double_t TFormula::GetParameter(const char* name) const { return GetParameter(GetParNumber(name)); }

void TFormula::GetParameters(Double_t* params) const {
  for (Int_t i = 0; i < GetNpar(); ++i) params[i] = fParams[i];
}

const char* TFormula::GetParName(Int_t ipar) const {
  if (ipar < 0 || ipar >= GetNpar()) return "";
  return fNames[ipar].c_str();
}

Int_t TFormula::GetParNumber(const char* name) const {
  if (!name) return -1;
  for (Int_t i = 0; i < GetNpar(); ++i)
    if (fNames[i] == name) return i;
  return -1;
}

void TFormula::SetParameter(Int_t ipar, Double_t parvalue) {
  if (ipar < 0 || ipar >= GetNpar()) return;
  fParams[ipar] = parvalue;
}

void TFormula::SetParameter(const char* name, Double_t parvalue) { SetParameter(GetParNumber(name), parvalue); }

void TFormula::SetParameters(const Double_t* params) {
  for (Int_t i = 0; i < GetNpar(); ++i) fParams[i] = params[i];
}

void TFormula::SetParameters(Double_t p0, Double_t p1, Double_t p2, Double_t p3, Double_t p4, Double_t p5,
                             Double_t p6, Double_t p7, Double_t p8, Double_t p9, Double_t p10) {
  const Double_t values[11] = {p0, p1, p2, p3, p4, p5, p6, p7, p8, p9, p10};
  for (Int_t i = 0; i < GetNpar() && i < 11; ++i) fParams[i] = values[i];
}

void TFormula::SetParName(Int_t ipar, const char* name) {
  if (ipar < 0 || ipar >= GetNpar()) return;
  fNames[ipar] = name ? name : "";
}
