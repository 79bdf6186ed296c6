// Ordered collection.
#ifndef ROOT_TSeqCollection
#define ROOT_TSeqCollection

#include "TCollection.h"

class TSeqCollection : public TCollection {
 public:
  const char* ClassName() const override { return "TSeqCollection"; }
  virtual void AddFirst(TObject* obj) = 0;
  virtual void AddLast(TObject* obj) = 0;
  virtual TObject* At(Int_t idx) const = 0;
  virtual TObject* First() const = 0;
  virtual TObject* Last() const = 0;
  virtual Int_t IndexOf(const TObject* obj) const;
};

#endif
