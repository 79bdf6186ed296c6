// Fill attributes: colour and style. Defaults come from gStyle.
#ifndef ROOT_TAttFill
#define ROOT_TAttFill

#include "Rtypes.h"

class TAttFill {
 public:
  TAttFill();
  TAttFill(Color_t fcolor, Style_t fstyle);
  virtual ~TAttFill() = default;

  void Copy(TAttFill& attfill) const;
  virtual Color_t GetFillColor() const { return fFillColor; }
  virtual Style_t GetFillStyle() const { return fFillStyle; }
  virtual Bool_t IsTransparent() const { return fFillStyle >= 4000 && fFillStyle <= 4100; }
  virtual void ResetAttFill(Option_t* option = "");
  virtual void SetFillAttributes() {}
  virtual void SetFillColor(Color_t fcolor) { fFillColor = fcolor; }
  virtual void SetFillStyle(Style_t fstyle) { fFillStyle = fstyle; }

 protected:
  Color_t fFillColor;
  Style_t fFillStyle;
};

#endif
