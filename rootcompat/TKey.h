// The header of one object stored in a ROOT file: its class, name, title and
// cycle, where it starts and how many bytes it takes, compressed and not.
#ifndef ROOT_TKey
#define ROOT_TKey

#include <string>

#include "TNamed.h"

class TFile;

class TKey : public TNamed {
 public:
  TKey() = default;

  const char* ClassName() const override { return "TKey"; }
  virtual const char* GetClassName() const { return fClassName.c_str(); }
  Short_t GetCycle() const { return fCycle; }
  Int_t GetKeylen() const { return fKeylen; }
  Int_t GetNbytes() const { return fNbytes; }
  Int_t GetObjlen() const { return fObjlen; }
  virtual Long64_t GetSeekKey() const { return fSeekKey; }
  virtual Long64_t GetSeekPdir() const { return fSeekPdir; }
  Int_t GetVersion() const { return fVersion; }

 private:
  friend class TFile;

  Int_t fVersion = 0;
  Int_t fNbytes = 0;
  Int_t fObjlen = 0;
  Short_t fKeylen = 0;
  Short_t fCycle = 0;
  Long64_t fSeekKey = 0;
  Long64_t fSeekPdir = 0;
  std::string fClassName;
};

#endif
