#include "TDirectory.h"

#include <string>

#include "TError.h"
#include "TList.h"
#include "TROOT.h"

TDirectory::TDirectory() : fList(new TList) {}

TDirectory::TDirectory(const char* name, const char* title) : TNamed(name, title), fList(new TList) {}

TDirectory::~TDirectory() {
  if (gDirectory == this) gDirectory = nullptr;
  delete fList;
}

void TDirectory::Append(TObject* obj, Bool_t replace) {
  if (!obj) return;
  if (replace) {
    if (TObject* old = fList->FindObject(obj->GetName()); old && old != obj) {
      ::Warning((std::string(ClassName()) + "::Append").c_str(), "Replacing existing %s: %s (Potential memory leak).",
                obj->ClassName(), obj->GetName());
      fList->Remove(old);
    }
  }
  fList->Add(obj);
}

Bool_t TDirectory::cd(const char*) {
  gDirectory = this;
  return kTRUE;
}

void TDirectory::Clear(Option_t*) { fList->Clear(); }

TObject* TDirectory::FindObject(const char* name) const { return fList->FindObject(name); }

TObject* TDirectory::FindObject(const TObject* obj) const { return fList->FindObject(obj); }

TObject* TDirectory::Get(const char* namecycle) { return FindObject(namecycle); }

void TDirectory::RecursiveRemove(TObject* obj) { fList->RecursiveRemove(obj); }

TObject* TDirectory::Remove(TObject* obj) { return fList->Remove(obj); }

Int_t TDirectory::WriteTObject(const TObject* obj, const char* name, Option_t*, Int_t) {
  const char* objname = name ? name : obj ? obj->GetName() : "no name specified";
  Error("WriteTObject",
        "The current directory (%s) is not associated with a file. The object (%s) has not been written.",
        GetName(), objname);
  return 0;
}

TDirectory*& TDirectory::CurrentDirectory() {
  thread_local TDirectory* current = gROOT;
  return current;
}
