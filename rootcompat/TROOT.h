// The top-level directory: lists of canvases and functions, and object lookup
// by name through them, the current directory and the current canvas.
#ifndef ROOT_TROOT
#define ROOT_TROOT

#include "TDirectory.h"

class TSeqCollection;

class TROOT : public TDirectory {
 public:
  TROOT(const char* name, const char* title);
  ~TROOT() override;

  const char* ClassName() const override { return "TROOT"; }
  TObject* FindObject(const char* name) const override;
  using TDirectory::FindObject;
  TSeqCollection* GetListOfCanvases() const { return fCanvases; }
  TSeqCollection* GetListOfCleanups() const { return fCleanups; }
  TSeqCollection* GetListOfFunctions() const { return fFunctions; }
  TSeqCollection* GetListOfStyles() const { return fStyles; }
  Bool_t IsBatch() const { return fBatch; }
  // Creates the default canvas "c1" when something is drawn with no pad.
  void MakeDefCanvas() const;
  void RecursiveRemove(TObject* obj) override;
  void SetBatch(Bool_t batch = kTRUE) { fBatch = batch; }

 private:
  TSeqCollection* fCanvases;
  TSeqCollection* fCleanups;
  TSeqCollection* fFunctions;
  TSeqCollection* fStyles;
  Bool_t fBatch;
};

namespace ROOT {
TROOT* GetROOT();
}

#define gROOT (ROOT::GetROOT())

#endif
