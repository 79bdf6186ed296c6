#include "TObject.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "TDirectory.h"
#include "TList.h"
#include "TROOT.h"
#include "TVirtualPad.h"

namespace {

void Report(const char* level, const TObject& obj, const char* method, const char* fmt, va_list ap) {
  std::fprintf(stderr, "%s in <%s::%s>: ", level, obj.ClassName(), method);
  std::vfprintf(stderr, fmt, ap);
  std::fputc('\n', stderr);
}

}  // namespace

TObject::TObject() : fUniqueID(0), fBits(0) {}

TObject::TObject(const TObject& object) : fUniqueID(object.fUniqueID), fBits(object.fBits) {
  // A copy is neither owned by a pad nor registered for clean-up.
  fBits &= ~UInt_t(kCanDelete | kMustCleanup);
}

TObject& TObject::operator=(const TObject& rhs) {
  if (this != &rhs) {
    fUniqueID = rhs.fUniqueID;
    fBits = rhs.fBits & ~UInt_t(kCanDelete | kMustCleanup);
  }
  return *this;
}

TObject::~TObject() {
  // Drawn objects leave every pad that shows them.
  if (TestBit(kMustCleanup) && gROOT) gROOT->RecursiveRemove(this);
}

const char* TObject::ClassName() const { return "TObject"; }

TObject* TObject::Clone(const char*) const { return new TObject(*this); }

void TObject::Copy(TObject& object) const {
  object.fUniqueID = fUniqueID;
  object.fBits = fBits & ~UInt_t(kCanDelete | kMustCleanup);
}

void TObject::Draw(Option_t* option) { AppendPad(option); }

void TObject::AppendPad(Option_t* option) {
  if (!gPad) gROOT->MakeDefCanvas();
  if (!gPad->IsEditable()) return;
  SetBit(kMustCleanup);
  gPad->GetListOfPrimitives()->Add(this, option);
  gPad->Modified(kTRUE);
}

TObject* TObject::FindObject(const char*) const { return nullptr; }

const char* TObject::GetName() const { return ClassName(); }

const char* TObject::GetTitle() const { return ""; }

UInt_t TObject::GetUniqueID() const { return fUniqueID; }

void TObject::SetUniqueID(UInt_t uid) { fUniqueID = uid; }

Bool_t TObject::IsEqual(const TObject* obj) const { return obj == this; }

void TObject::Print(Option_t*) const { std::printf("OBJ: %s\t%s\t%s\n", ClassName(), GetName(), GetTitle()); }

void TObject::RecursiveRemove(TObject*) {}

Int_t TObject::Write(const char* name, Int_t option, Int_t bufsize) {
  return static_cast<const TObject*>(this)->Write(name, option, bufsize);
}

Int_t TObject::Write(const char* name, Int_t, Int_t bufsize) const {
  if (gDirectory) return gDirectory->WriteTObject(this, name, "", bufsize);
  Error("Write", "The current directory (gDirectory) is null. The object (%s) has not been written.",
        name ? name : GetName());
  return 0;
}

void TObject::SetBit(UInt_t f, Bool_t set) {
  if (set)
    SetBit(f);
  else
    ResetBit(f);
}

void TObject::Info(const char* method, const char* msgfmt, ...) const {
  va_list ap;
  va_start(ap, msgfmt);
  Report("Info", *this, method, msgfmt, ap);
  va_end(ap);
}

void TObject::Warning(const char* method, const char* msgfmt, ...) const {
  va_list ap;
  va_start(ap, msgfmt);
  Report("Warning", *this, method, msgfmt, ap);
  va_end(ap);
}

void TObject::Error(const char* method, const char* msgfmt, ...) const {
  va_list ap;
  va_start(ap, msgfmt);
  Report("Error", *this, method, msgfmt, ap);
  va_end(ap);
}
