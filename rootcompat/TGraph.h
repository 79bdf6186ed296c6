// Graph of points (x, y).
#ifndef ROOT_TGraph
#define ROOT_TGraph

#include <vector>

#include "TAttFill.h"
#include "TAttLine.h"
#include "TAttMarker.h"
#include "TNamed.h"

class TList;

namespace rootcompat {
class JSONWriter;
class RootStreamer;
class RootReader;
}

class TGraph : public TNamed, public TAttLine, public TAttFill, public TAttMarker {
 public:
  TGraph();
  explicit TGraph(Int_t n);
  TGraph(Int_t n, const Double_t* x, const Double_t* y);
  TGraph(const TGraph& gr);
  TGraph& operator=(const TGraph& gr);
  ~TGraph() override;

  const char* ClassName() const override { return "TGraph"; }
  TObject* Clone(const char* newname = "") const override;
  void Draw(Option_t* chopt = "") override;
  TList* GetListOfFunctions() const { return fFunctions; }
  Double_t GetMaximum() const { return fMaximum; }
  Double_t GetMinimum() const { return fMinimum; }
  Int_t GetN() const { return fNpoints; }
  Double_t* GetX() const { return const_cast<Double_t*>(fX.data()); }
  Double_t* GetY() const { return const_cast<Double_t*>(fY.data()); }
  virtual Int_t GetPoint(Int_t i, Double_t& x, Double_t& y) const;
  virtual void Set(Int_t n);
  virtual void SetMaximum(Double_t maximum = -1111) { fMaximum = maximum; }
  virtual void SetMinimum(Double_t minimum = -1111) { fMinimum = minimum; }
  virtual void SetPoint(Int_t i, Double_t x, Double_t y);

 protected:
  // Resizes every per-point array to n points, keeping existing values.
  virtual void ResizeArrays(Int_t n);

  Int_t fNpoints;
  std::vector<Double_t> fX;
  std::vector<Double_t> fY;
  TList* fFunctions;
  Double_t fMinimum;
  Double_t fMaximum;

 private:
  friend class rootcompat::JSONWriter;
  friend class rootcompat::RootStreamer;
  friend class rootcompat::RootReader;
};

#endif
