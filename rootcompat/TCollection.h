// Abstract collection of objects, and TIter to walk one:
//   TIter next(list); while (TObject* obj = next()) { ... next.GetOption() ... }
#ifndef ROOT_TCollection
#define ROOT_TCollection

#include <memory>

#include "TIterator.h"
#include "TObject.h"

class TCollection : public TObject {
 public:
  TCollection() = default;
  ~TCollection() override = default;

  const char* ClassName() const override { return "TCollection"; }
  virtual void Add(TObject* obj) = 0;
  virtual void Clear(Option_t* option = "") = 0;
  virtual void Delete(Option_t* option = "") = 0;
  virtual Int_t GetSize() const = 0;
  virtual Int_t GetEntries() const { return GetSize(); }
  virtual TIterator* MakeIterator(Bool_t dir = kTRUE) const = 0;
  virtual TObject* Remove(TObject* obj) = 0;
  TObject* FindObject(const char* name) const override;
  virtual TObject* FindObject(const TObject* obj) const;
  Bool_t Contains(const char* name) const { return FindObject(name) != nullptr; }
  Bool_t Contains(const TObject* obj) const { return FindObject(obj) != nullptr; }
  Bool_t IsEmpty() const { return GetSize() <= 0; }
  Bool_t IsOwner() const { return fIsOwner; }
  virtual void SetOwner(Bool_t enable = kTRUE) { fIsOwner = enable; }
  const char* GetName() const override { return ClassName(); }

 private:
  Bool_t fIsOwner = kFALSE;
};

class TIter {
 public:
  explicit TIter(const TCollection* col, Bool_t dir = kTRUE);
  explicit TIter(TIterator* it) : fIterator(it) {}

  TObject* operator()() { return Next(); }
  TObject* Next() { return fIterator ? fIterator->Next() : nullptr; }
  const TCollection* GetCollection() const { return fIterator ? fIterator->GetCollection() : nullptr; }
  Option_t* GetOption() const { return fIterator ? fIterator->GetOption() : ""; }
  void Reset() {
    if (fIterator) fIterator->Reset();
  }

 private:
  std::unique_ptr<TIterator> fIterator;
};

#endif
