// Text attributes: angle, size, alignment, colour, font. Defaults come from gStyle.
#ifndef ROOT_TAttText
#define ROOT_TAttText

#include "Rtypes.h"

class TAttText {
 public:
  TAttText();
  TAttText(Int_t align, Float_t angle, Color_t color, Style_t font, Float_t tsize);
  virtual ~TAttText() = default;

  void Copy(TAttText& atttext) const;
  virtual Short_t GetTextAlign() const { return fTextAlign; }
  virtual Float_t GetTextAngle() const { return fTextAngle; }
  virtual Color_t GetTextColor() const { return fTextColor; }
  virtual Font_t GetTextFont() const { return fTextFont; }
  virtual Float_t GetTextSize() const { return fTextSize; }
  virtual void ResetAttText(Option_t* toption = "");
  virtual void SetTextAttributes() {}
  virtual void SetTextAlign(Short_t align = 11) { fTextAlign = align; }
  virtual void SetTextAngle(Float_t tangle = 0) { fTextAngle = tangle; }
  virtual void SetTextColor(Color_t tcolor = 1) { fTextColor = tcolor; }
  virtual void SetTextFont(Font_t tfont = 62) { fTextFont = tfont; }
  virtual void SetTextSize(Float_t tsize = 1) { fTextSize = tsize; }

 protected:
  Float_t fTextAngle;
  Float_t fTextSize;
  Short_t fTextAlign;
  Color_t fTextColor;
  Font_t fTextFont;
};

#endif
