// Collections: TCollection lookups, TIter, and TList with per-entry options.
#include "TList.h"

#include <algorithm>
#include <cstring>

TObject* TCollection::FindObject(const char* name) const {
  if (!name) return nullptr;
  TIter next(this);
  while (TObject* obj = next())
    if (std::strcmp(obj->GetName(), name) == 0) return obj;
  return nullptr;
}

TObject* TCollection::FindObject(const TObject* target) const {
  TIter next(this);
  while (TObject* obj = next())
    if (obj->IsEqual(target)) return obj;
  return nullptr;
}

TIter::TIter(const TCollection* col, Bool_t dir) : fIterator(col ? col->MakeIterator(dir) : nullptr) {}

Int_t TSeqCollection::IndexOf(const TObject* target) const {
  Int_t idx = 0;
  TIter next(this);
  while (TObject* obj = next()) {
    if (obj->IsEqual(target)) return idx;
    ++idx;
  }
  return -1;
}

TList::~TList() {
  // Only an owning list touches its objects here: others may be gone already.
  if (IsOwner()) Delete();
}

void TList::AddFirst(TObject* obj) { AddFirst(obj, ""); }

void TList::AddFirst(TObject* obj, Option_t* opt) {
  if (obj) fEntries.insert(fEntries.begin(), Entry{obj, opt ? opt : ""});
}

void TList::AddLast(TObject* obj) { AddLast(obj, ""); }

void TList::AddLast(TObject* obj, Option_t* opt) {
  if (obj) fEntries.push_back(Entry{obj, opt ? opt : ""});
}

TObject* TList::At(Int_t idx) const {
  if (idx < 0 || idx >= GetSize()) return nullptr;
  return fEntries[idx].object;
}

void TList::Clear(Option_t* option) {
  if (IsOwner()) {
    Delete();
    return;
  }
  // Objects marked kCanDelete (copies drawn into a pad) go with the list
  // unless the option is "nodelete".
  std::vector<Entry> entries;
  entries.swap(fEntries);
  if (option && std::strcmp(option, "nodelete") == 0) return;
  std::vector<TObject*> doomed;
  for (const Entry& e : entries)
    if (e.object->TestBit(kCanDelete) && std::find(doomed.begin(), doomed.end(), e.object) == doomed.end())
      doomed.push_back(e.object);
  for (TObject* obj : doomed) delete obj;
}

void TList::Delete(Option_t*) {
  // Entries leave the list before their objects go, so destructors that
  // search this list do not find half-deleted objects.
  std::vector<Entry> entries;
  entries.swap(fEntries);
  std::vector<TObject*> doomed;
  for (auto it = entries.rbegin(); it != entries.rend(); ++it)
    if (std::find(doomed.begin(), doomed.end(), it->object) == doomed.end()) doomed.push_back(it->object);
  for (TObject* obj : doomed) delete obj;
}

TObject* TList::FindObject(const char* name) const {
  if (!name) return nullptr;
  for (const Entry& e : fEntries)
    if (std::strcmp(e.object->GetName(), name) == 0) return e.object;
  return nullptr;
}

TObject* TList::FindObject(const TObject* obj) const {
  for (const Entry& e : fEntries)
    if (e.object->IsEqual(obj)) return e.object;
  return nullptr;
}

TObject* TList::First() const { return fEntries.empty() ? nullptr : fEntries.front().object; }

Int_t TList::IndexOf(const TObject* obj) const {
  for (size_t i = 0; i < fEntries.size(); ++i)
    if (fEntries[i].object->IsEqual(obj)) return Int_t(i);
  return -1;
}

TObject* TList::Last() const { return fEntries.empty() ? nullptr : fEntries.back().object; }

TIterator* TList::MakeIterator(Bool_t dir) const { return new TListIter(this, dir); }

void TList::RecursiveRemove(TObject* obj) {
  std::erase_if(fEntries, [obj](const Entry& e) { return e.object == obj; });
  for (const Entry& e : fEntries) e.object->RecursiveRemove(obj);
}

TObject* TList::Remove(TObject* obj) {
  auto it = std::find_if(fEntries.begin(), fEntries.end(), [obj](const Entry& e) { return e.object == obj; });
  if (it == fEntries.end()) return nullptr;
  fEntries.erase(it);
  return obj;
}

TListIter::TListIter(const TList* list, Bool_t dir) : fList(list), fDirection(dir), fCurrent(-1) { Reset(); }

Option_t* TListIter::GetOption() const {
  if (fCurrent < 0 || fCurrent >= fList->GetSize()) return "";
  return fList->fEntries[fCurrent].option.c_str();
}

TObject* TListIter::Next() {
  fCurrent = fDirection ? fCurrent + 1 : fCurrent - 1;
  if (fCurrent < 0 || fCurrent >= fList->GetSize()) return nullptr;
  return fList->fEntries[fCurrent].object;
}

void TListIter::Reset() { fCurrent = fDirection ? -1 : fList->GetSize(); }
