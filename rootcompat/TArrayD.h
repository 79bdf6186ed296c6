// Contiguous array of doubles; GetArray() is the raw storage.
#ifndef ROOT_TArrayD
#define ROOT_TArrayD

#include "TArray.h"

class TArrayD : public TArray {
 public:
  TArrayD() : fArray(nullptr) {}
  explicit TArrayD(Int_t n);
  TArrayD(const TArrayD& array);
  TArrayD& operator=(const TArrayD& rhs);
  ~TArrayD() override;

  // Stores c at position i (ROOT's name; it does not add).
  void AddAt(Double_t c, Int_t i);
  Double_t At(Int_t i) const;
  void Copy(TArrayD& array) const;
  const Double_t* GetArray() const { return fArray; }
  Double_t* GetArray() { return fArray; }
  Double_t GetAt(Int_t i) const override { return At(i); }
  Double_t GetSum() const;
  void Reset(Double_t val = 0);
  void Set(Int_t n) override;
  void SetAt(Double_t v, Int_t i) override { AddAt(v, i); }
  Double_t& operator[](Int_t i) { return fArray[i]; }
  Double_t operator[](Int_t i) const { return fArray[i]; }

  Double_t* fArray;
};

#endif
