// Axis attributes: divisions, colours, fonts, offsets and sizes of labels and title.
#ifndef ROOT_TAttAxis
#define ROOT_TAttAxis

#include "Rtypes.h"

class TAttAxis {
 public:
  TAttAxis();
  virtual ~TAttAxis() = default;

  void Copy(TAttAxis& attaxis) const;
  virtual Int_t GetNdivisions() const { return fNdivisions; }
  virtual Color_t GetAxisColor() const { return fAxisColor; }
  virtual Color_t GetLabelColor() const { return fLabelColor; }
  virtual Style_t GetLabelFont() const { return fLabelFont; }
  virtual Float_t GetLabelOffset() const { return fLabelOffset; }
  virtual Float_t GetLabelSize() const { return fLabelSize; }
  virtual Float_t GetTickLength() const { return fTickLength; }
  virtual Float_t GetTitleOffset() const { return fTitleOffset; }
  virtual Float_t GetTitleSize() const { return fTitleSize; }
  virtual Color_t GetTitleColor() const { return fTitleColor; }
  virtual Style_t GetTitleFont() const { return fTitleFont; }
  virtual void ResetAttAxis(Option_t* option = "");
  virtual void SetNdivisions(Int_t n = 510, Bool_t optim = kTRUE);
  virtual void SetAxisColor(Color_t color = 1) { fAxisColor = color; }
  virtual void SetLabelColor(Color_t color = 1) { fLabelColor = color; }
  virtual void SetLabelFont(Style_t font = 62) { fLabelFont = font; }
  virtual void SetLabelOffset(Float_t offset = 0.005) { fLabelOffset = offset; }
  virtual void SetLabelSize(Float_t size = 0.04) { fLabelSize = size; }
  virtual void SetTickLength(Float_t length = 0.03) { fTickLength = length; }
  virtual void SetTitleOffset(Float_t offset = 1) { fTitleOffset = offset; }
  virtual void SetTitleSize(Float_t size = 0.04) { fTitleSize = size; }
  virtual void SetTitleColor(Color_t color = 1) { fTitleColor = color; }
  virtual void SetTitleFont(Style_t font = 62) { fTitleFont = font; }

 protected:
  Int_t fNdivisions;
  Color_t fAxisColor;
  Color_t fLabelColor;
  Style_t fLabelFont;
  Float_t fLabelOffset;
  Float_t fLabelSize;
  Float_t fTickLength;
  Float_t fTitleOffset;
  Float_t fTitleSize;
  Color_t fTitleColor;
  Style_t fTitleFont;
};

#endif
