// Contiguous array of floats; GetArray() is the raw storage.
#ifndef ROOT_TArrayF
#define ROOT_TArrayF

#include "TArray.h"

class TArrayF : public TArray {
 public:
  TArrayF() : fArray(nullptr) {}
  explicit TArrayF(Int_t n);
  TArrayF(const TArrayF& array);
  TArrayF& operator=(const TArrayF& rhs);
  ~TArrayF() override;

  // Stores c at position i (ROOT's name; it does not add).
  void AddAt(Float_t c, Int_t i);
  Float_t At(Int_t i) const;
  void Copy(TArrayF& array) const;
  const Float_t* GetArray() const { return fArray; }
  Float_t* GetArray() { return fArray; }
  Double_t GetAt(Int_t i) const override { return At(i); }
  Double_t GetSum() const;
  void Reset(Float_t val = 0);
  void Set(Int_t n) override;
  void SetAt(Double_t v, Int_t i) override { AddAt(Float_t(v), i); }
  Float_t& operator[](Int_t i) { return fArray[i]; }
  Float_t operator[](Int_t i) const { return fArray[i]; }

  Float_t* fArray;
};

#endif
