// Iterator over a collection.
#ifndef ROOT_TIterator
#define ROOT_TIterator

#include "Rtypes.h"

class TCollection;
class TObject;

class TIterator {
 public:
  virtual ~TIterator() = default;
  virtual const TCollection* GetCollection() const = 0;
  virtual Option_t* GetOption() const { return ""; }
  virtual TObject* Next() = 0;
  virtual void Reset() = 0;
  TObject* operator()() { return Next(); }
};

#endif
