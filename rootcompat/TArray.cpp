// Float and double arrays with bounds-checked element access.
#include <algorithm>
#include <cstring>

#include "TArrayD.h"
#include "TArrayF.h"
#include "TError.h"

namespace {

template <class T>
T* Allocate(Int_t n) {
  return n > 0 ? new T[n]() : nullptr;
}

bool BoundsOk(const char* where, Int_t i, Int_t n) {
  if (i >= 0 && i < n) return true;
  Error(where, "index %d out of bounds (size: %d)", i, n);
  return false;
}

}  // namespace

TArrayF::TArrayF(Int_t n) : TArray(n), fArray(Allocate<Float_t>(fN)) {}

TArrayF::TArrayF(const TArrayF& array) : TArray(array.fN), fArray(Allocate<Float_t>(fN)) {
  if (fN) std::memcpy(fArray, array.fArray, sizeof(Float_t) * fN);
}

TArrayF& TArrayF::operator=(const TArrayF& rhs) {
  if (this != &rhs) rhs.Copy(*this);
  return *this;
}

TArrayF::~TArrayF() { delete[] fArray; }

void TArrayF::Adopt(Int_t n, Float_t* array) {
  delete[] fArray;
  fN = n;
  fArray = array;
}

void TArrayF::AddAt(Float_t c, Int_t i) {
  if (BoundsOk("TArrayF::AddAt", i, fN)) fArray[i] = c;
}

Float_t TArrayF::At(Int_t i) const { return BoundsOk("TArrayF::At", i, fN) ? fArray[i] : 0; }

void TArrayF::Copy(TArrayF& array) const {
  array.Set(fN);
  if (fN) std::memcpy(array.fArray, fArray, sizeof(Float_t) * fN);
}

Double_t TArrayF::GetSum() const {
  Double_t sum = 0;
  for (Int_t i = 0; i < fN; ++i) sum += fArray[i];
  return sum;
}

void TArrayF::Reset(Float_t val) { std::fill(fArray, fArray + fN, val); }

void TArrayF::Set(Int_t n) {
  if (n < 0 || n == fN) return;
  Float_t* grown = Allocate<Float_t>(n);
  if (fArray && grown) std::memcpy(grown, fArray, sizeof(Float_t) * std::min(n, fN));
  delete[] fArray;
  fArray = grown;
  fN = n;
}

TArrayD::TArrayD(Int_t n) : TArray(n), fArray(Allocate<Double_t>(fN)) {}

TArrayD::TArrayD(const TArrayD& array) : TArray(array.fN), fArray(Allocate<Double_t>(fN)) {
  if (fN) std::memcpy(fArray, array.fArray, sizeof(Double_t) * fN);
}

TArrayD& TArrayD::operator=(const TArrayD& rhs) {
  if (this != &rhs) rhs.Copy(*this);
  return *this;
}

TArrayD::~TArrayD() { delete[] fArray; }

void TArrayD::Adopt(Int_t n, Double_t* array) {
  delete[] fArray;
  fN = n;
  fArray = array;
}

void TArrayD::AddAt(Double_t c, Int_t i) {
  if (BoundsOk("TArrayD::AddAt", i, fN)) fArray[i] = c;
}

Double_t TArrayD::At(Int_t i) const { return BoundsOk("TArrayD::At", i, fN) ? fArray[i] : 0; }

void TArrayD::Copy(TArrayD& array) const {
  array.Set(fN);
  if (fN) std::memcpy(array.fArray, fArray, sizeof(Double_t) * fN);
}

Double_t TArrayD::GetSum() const {
  Double_t sum = 0;
  for (Int_t i = 0; i < fN; ++i) sum += fArray[i];
  return sum;
}

void TArrayD::Reset(Double_t val) { std::fill(fArray, fArray + fN, val); }

void TArrayD::Set(Int_t n) {
  if (n < 0 || n == fN) return;
  Double_t* grown = Allocate<Double_t>(n);
  if (fArray && grown) std::memcpy(grown, fArray, sizeof(Double_t) * std::min(n, fN));
  delete[] fArray;
  fArray = grown;
  fN = n;
}
