// Text with ROOT's LaTeX-like markup, drawn by the renderer.
#ifndef ROOT_TLatex
#define ROOT_TLatex

#include "TAttLine.h"
#include "TText.h"

class TLatex : public TText, public TAttLine {
 public:
  TLatex();
  TLatex(Double_t x, Double_t y, const char* text);
  TLatex(const TLatex& text) = default;
  TLatex& operator=(const TLatex& rhs) = default;
  ~TLatex() override = default;

  const char* ClassName() const override { return "TLatex"; }
  TObject* Clone(const char* newname = "") const override;
  // Draws a copy at (x, y) with this object's attributes; the current pad owns it.
  virtual TLatex* DrawLatex(Double_t x, Double_t y, const char* text);
  Double_t GetLimitFactorSize() const { return fLimitFactorSize; }
  Double_t GetOriginSize() const { return fOriginSize; }

 protected:
  Double_t fLimitFactorSize;
  Double_t fOriginSize;
};

#endif
