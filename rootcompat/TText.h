// Text at (fX, fY); the title is the text. With kTextNDC the position is in
// the pad's normalised coordinates.
#ifndef ROOT_TText
#define ROOT_TText

#include "TAttText.h"
#include "TNamed.h"

class TText : public TNamed, public TAttText {
 public:
  enum { kTextNDC = BIT(14) };

  TText();
  TText(Double_t x, Double_t y, const char* text);
  TText(const TText& text) = default;
  TText& operator=(const TText& rhs) = default;
  ~TText() override = default;

  const char* ClassName() const override { return "TText"; }
  TObject* Clone(const char* newname = "") const override;
  virtual TText* DrawText(Double_t x, Double_t y, const char* text);
  Double_t GetX() const { return fX; }
  Double_t GetY() const { return fY; }
  virtual void SetNDC(Bool_t isNDC = kTRUE);
  virtual void SetText(Double_t x, Double_t y, const char* text);
  virtual void SetX(Double_t x) { fX = x; }
  virtual void SetY(Double_t y) { fY = y; }

 protected:
  Double_t fX;
  Double_t fY;
};

#endif
