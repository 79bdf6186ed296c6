// Ordered list of objects, each with an option string (a pad's draw options).
// Not the owner of its objects unless SetOwner() was called.
#ifndef ROOT_TList
#define ROOT_TList

#include <string>
#include <vector>

#include "TSeqCollection.h"

class TList : public TSeqCollection {
 public:
  TList() = default;
  TList(const TList&) = delete;
  TList& operator=(const TList&) = delete;
  ~TList() override;

  const char* ClassName() const override { return "TList"; }
  void Add(TObject* obj) override { AddLast(obj); }
  virtual void Add(TObject* obj, Option_t* opt) { AddLast(obj, opt); }
  void AddFirst(TObject* obj) override;
  virtual void AddFirst(TObject* obj, Option_t* opt);
  void AddLast(TObject* obj) override;
  virtual void AddLast(TObject* obj, Option_t* opt);
  TObject* At(Int_t idx) const override;
  void Clear(Option_t* option = "") override;
  void Delete(Option_t* option = "") override;
  TObject* FindObject(const char* name) const override;
  TObject* FindObject(const TObject* obj) const override;
  TObject* First() const override;
  Int_t GetSize() const override { return Int_t(fEntries.size()); }
  Int_t IndexOf(const TObject* obj) const override;
  TObject* Last() const override;
  TIterator* MakeIterator(Bool_t dir = kTRUE) const override;
  void RecursiveRemove(TObject* obj) override;
  TObject* Remove(TObject* obj) override;

 private:
  friend class TListIter;
  struct Entry {
    TObject* object;
    std::string option;
  };
  std::vector<Entry> fEntries;
};

class TListIter : public TIterator {
 public:
  TListIter(const TList* list, Bool_t dir = kTRUE);
  const TCollection* GetCollection() const override { return fList; }
  Option_t* GetOption() const override;
  TObject* Next() override;
  void Reset() override;

 private:
  const TList* fList;
  Bool_t fDirection;
  Int_t fCurrent;
};

#endif
