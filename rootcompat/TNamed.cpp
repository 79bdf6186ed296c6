#include "TNamed.h"

#include <cstdio>

TNamed::TNamed(const char* name, const char* title) : fName(name ? name : ""), fTitle(title ? title : "") {}

TObject* TNamed::Clone(const char* newname) const {
  auto* named = new TNamed(*this);
  if (newname && *newname) named->SetName(newname);
  return named;
}

void TNamed::Copy(TObject& named) const {
  TObject::Copy(named);
  if (auto* target = dynamic_cast<TNamed*>(&named)) {
    target->fName = fName;
    target->fTitle = fTitle;
  }
}

void TNamed::SetName(const char* name) { fName = name ? name : ""; }

void TNamed::SetNameTitle(const char* name, const char* title) {
  SetName(name);
  SetTitle(title);
}

void TNamed::SetTitle(const char* title) { fTitle = title ? title : ""; }

void TNamed::Print(Option_t*) const { std::printf("OBJ: %s\t%s\t%s\n", ClassName(), GetName(), GetTitle()); }
