// Histogram axis with fixed bins: bin 0 underflow, 1..N, N+1 overflow.
#ifndef ROOT_TAxis
#define ROOT_TAxis

#include <string>
#include <utility>
#include <vector>

#include "TArrayD.h"
#include "TAttAxis.h"
#include "TNamed.h"

class TAxis : public TNamed, public TAttAxis {
 public:
  enum { kAxisRange = BIT(11), kCenterTitle = BIT(12), kCenterLabels = BIT(14) };
  // Bits of fBits2.
  enum EStatusBits2 { kAlphanumeric = BIT(4), kCanExtend = BIT(5), kNotAlpha = BIT(6) };

  TAxis();
  TAxis(Int_t nbins, Double_t xmin, Double_t xmax);
  TAxis(const TAxis& axis);
  TAxis& operator=(const TAxis& rhs);
  ~TAxis() override = default;

  const char* ClassName() const override { return "TAxis"; }
  void Copy(TObject& axis) const override;
  virtual Int_t FindBin(Double_t x);
  // Bin holding x; x >= xmax and NaN go to the overflow bin.
  virtual Int_t FindFixBin(Double_t x) const {
    if (x < fXmin) return 0;
    if (!(x < fXmax)) return fNbins + 1;
    return 1 + Int_t(fNbins * (x - fXmin) / (fXmax - fXmin));
  }
  virtual Double_t GetBinCenter(Int_t bin) const;
  // The label of bin `bin`, empty when it has none.
  virtual const char* GetBinLabel(Int_t bin) const;
  virtual Double_t GetBinLowEdge(Int_t bin) const;
  virtual Double_t GetBinUpEdge(Int_t bin) const;
  virtual Double_t GetBinWidth(Int_t bin) const;
  Int_t GetFirst() const;
  Int_t GetLast() const;
  Int_t GetNbins() const { return fNbins; }
  TObject* GetParent() const { return fParent; }
  Bool_t GetTimeDisplay() const { return fTimeDisplay; }
  Double_t GetXmin() const { return fXmin; }
  Double_t GetXmax() const { return fXmax; }
  const TArrayD* GetXbins() const { return &fXbins; }
  virtual void Set(Int_t nbins, Double_t xmin, Double_t xmax);
  // Labels bin `bin` (1..N), replacing its label; once every bin has one,
  // the axis is alphanumeric and can extend, so that histograms are merged
  // (hadd) by label.
  virtual void SetBinLabel(Int_t bin, const char* label);
  Bool_t IsAlphanumeric() const { return (fBits2 & kAlphanumeric) != 0; }
  Bool_t CanExtend() const { return (fBits2 & kCanExtend) != 0; }
  UShort_t GetBits2() const { return fBits2; }
  // The labels in the order they were first set, by bin; what ROOT keeps in
  // fLabels as TObjString objects whose unique ID is the bin.
  const std::vector<std::pair<Int_t, std::string>>& GetLabelList() const { return fLabels; }
  void SetParent(TObject* obj) { fParent = obj; }
  virtual void SetRange(Int_t first = 0, Int_t last = 0);
  virtual void SetRangeUser(Double_t ufirst, Double_t ulast);
  virtual void UnZoom();

 private:
  Int_t fNbins;
  Double_t fXmin;
  Double_t fXmax;
  TArrayD fXbins;
  Int_t fFirst;
  Int_t fLast;
  Bool_t fTimeDisplay;
  UShort_t fBits2;
  std::vector<std::pair<Int_t, std::string>> fLabels;
  TObject* fParent;
};

#endif
