// Top-level pad, registered in gROOT's list of canvases. Update() hands the
// repainted canvas to the publisher installed with rootcompat::SetCanvasPublisher
// (CanvasPublisher.h); without one it does nothing.
#ifndef ROOT_TCanvas
#define ROOT_TCanvas

#include "TPad.h"

class TCanvas : public TPad {
 public:
  TCanvas();
  // A canvas of ww x wh pixels; it replaces a canvas of the same name and
  // becomes the current pad.
  TCanvas(const char* name, const char* title, Int_t ww, Int_t wh);
  ~TCanvas() override;

  const char* ClassName() const override { return "TCanvas"; }
  TVirtualPad* cd(Int_t subpadnumber = 0) override;
  void Draw(Option_t* option = "") override;
  UInt_t GetWh() const { return fCh; }
  UInt_t GetWw() const { return fCw; }
  UInt_t GetWindowHeight() const { return fCh; }
  UInt_t GetWindowWidth() const { return fCw; }
  void Update() override;

 private:
  UInt_t fCw;
  UInt_t fCh;

  friend class rootcompat::JSONWriter;
  friend class rootcompat::PadMembers;
};

#endif
