// Marker attributes: colour, style, size. Defaults come from gStyle.
#ifndef ROOT_TAttMarker
#define ROOT_TAttMarker

#include "Rtypes.h"

enum EMarkerStyle {
  kDot = 1,
  kPlus,
  kStar,
  kCircle = 4,
  kMultiply = 5,
  kFullDotSmall = 6,
  kFullDotMedium = 7,
  kFullDotLarge = 8,
  kFullCircle = 20,
  kFullSquare = 21,
  kFullTriangleUp = 22,
  kFullTriangleDown = 23,
  kOpenCircle = 24,
  kOpenSquare = 25,
  kOpenTriangleUp = 26,
  kOpenDiamond = 27,
  kOpenCross = 28,
  kFullStar = 29,
  kOpenStar = 30,
  kOpenTriangleDown = 32,
  kFullDiamond = 33,
  kFullCross = 34
};

class TAttMarker {
 public:
  TAttMarker();
  TAttMarker(Color_t color, Style_t style, Size_t msize);
  virtual ~TAttMarker() = default;

  void Copy(TAttMarker& attmarker) const;
  virtual Color_t GetMarkerColor() const { return fMarkerColor; }
  virtual Style_t GetMarkerStyle() const { return fMarkerStyle; }
  virtual Size_t GetMarkerSize() const { return fMarkerSize; }
  virtual void ResetAttMarker(Option_t* toption = "");
  virtual void SetMarkerAttributes() {}
  virtual void SetMarkerColor(Color_t mcolor = 1) { fMarkerColor = mcolor; }
  virtual void SetMarkerStyle(Style_t mstyle = 1) { fMarkerStyle = mstyle; }
  virtual void SetMarkerSize(Size_t msize = 1) { fMarkerSize = msize; }

 protected:
  Color_t fMarkerColor;
  Style_t fMarkerStyle;
  Size_t fMarkerSize;
};

#endif
