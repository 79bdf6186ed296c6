// Line attributes: colour, style, width. Defaults come from gStyle.
#ifndef ROOT_TAttLine
#define ROOT_TAttLine

#include "Rtypes.h"

enum ELineStyle { kSolid = 1, kDashed, kDotted, kDashDotted };

class TAttLine {
 public:
  TAttLine();
  TAttLine(Color_t lcolor, Style_t lstyle, Width_t lwidth);
  virtual ~TAttLine() = default;

  void Copy(TAttLine& attline) const;
  virtual Color_t GetLineColor() const { return fLineColor; }
  virtual Style_t GetLineStyle() const { return fLineStyle; }
  virtual Width_t GetLineWidth() const { return fLineWidth; }
  virtual void ResetAttLine(Option_t* option = "");
  virtual void SetLineAttributes() {}
  virtual void SetLineColor(Color_t lcolor) { fLineColor = lcolor; }
  virtual void SetLineStyle(Style_t lstyle) { fLineStyle = lstyle; }
  virtual void SetLineWidth(Width_t lwidth) { fLineWidth = lwidth; }

 protected:
  Color_t fLineColor;
  Style_t fLineStyle;
  Width_t fLineWidth;
};

#endif
