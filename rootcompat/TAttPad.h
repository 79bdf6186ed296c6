// Pad attributes: the four margins and the frame's look. Defaults come from gStyle.
#ifndef ROOT_TAttPad
#define ROOT_TAttPad

#include "Rtypes.h"

class TAttPad {
 public:
  TAttPad();
  virtual ~TAttPad() = default;

  void Copy(TAttPad& attpad) const;
  Float_t GetBottomMargin() const { return fBottomMargin; }
  Float_t GetLeftMargin() const { return fLeftMargin; }
  Float_t GetRightMargin() const { return fRightMargin; }
  Float_t GetTopMargin() const { return fTopMargin; }
  Color_t GetFrameFillColor() const { return fFrameFillColor; }
  Color_t GetFrameLineColor() const { return fFrameLineColor; }
  Style_t GetFrameFillStyle() const { return fFrameFillStyle; }
  Style_t GetFrameLineStyle() const { return fFrameLineStyle; }
  Width_t GetFrameLineWidth() const { return fFrameLineWidth; }
  Width_t GetFrameBorderSize() const { return fFrameBorderSize; }
  Int_t GetFrameBorderMode() const { return fFrameBorderMode; }
  virtual void ResetAttPad(Option_t* option = "");
  virtual void SetBottomMargin(Float_t bottommargin);
  virtual void SetLeftMargin(Float_t leftmargin);
  virtual void SetRightMargin(Float_t rightmargin);
  virtual void SetTopMargin(Float_t topmargin);
  virtual void SetMargin(Float_t left, Float_t right, Float_t bottom, Float_t top);
  virtual void SetFrameFillColor(Color_t color = 1) { fFrameFillColor = color; }
  virtual void SetFrameLineColor(Color_t color = 1) { fFrameLineColor = color; }
  virtual void SetFrameFillStyle(Style_t styl = 0) { fFrameFillStyle = styl; }
  virtual void SetFrameLineStyle(Style_t styl = 0) { fFrameLineStyle = styl; }
  virtual void SetFrameLineWidth(Width_t width = 1) { fFrameLineWidth = width; }
  virtual void SetFrameBorderSize(Width_t size = 1) { fFrameBorderSize = size; }
  virtual void SetFrameBorderMode(Int_t mode = 1) { fFrameBorderMode = mode; }

 protected:
  Float_t fLeftMargin;
  Float_t fRightMargin;
  Float_t fBottomMargin;
  Float_t fTopMargin;
  Float_t fXfile;
  Float_t fYfile;
  Float_t fAfile;
  Float_t fXstat;
  Float_t fYstat;
  Float_t fAstat;
  Color_t fFrameFillColor;
  Color_t fFrameLineColor;
  Style_t fFrameFillStyle;
  Style_t fFrameLineStyle;
  Width_t fFrameLineWidth;
  Width_t fFrameBorderSize;
  Int_t fFrameBorderMode;
};

#endif
