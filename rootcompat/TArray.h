// Abstract array base: the number of elements.
#ifndef ROOT_TArray
#define ROOT_TArray

#include "Rtypes.h"

class TArray {
 public:
  TArray() : fN(0) {}
  explicit TArray(Int_t n) : fN(n > 0 ? n : 0) {}
  TArray(const TArray& a) = default;
  TArray& operator=(const TArray& rhs) = default;
  virtual ~TArray() = default;

  Int_t GetSize() const { return fN; }
  virtual Double_t GetAt(Int_t i) const = 0;
  virtual void SetAt(Double_t v, Int_t i) = 0;
  virtual void Set(Int_t n) = 0;

  Int_t fN;
};

#endif
