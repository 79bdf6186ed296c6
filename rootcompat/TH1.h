// One-dimensional histograms (TH1 base, TH1F with float and TH1D with double contents).
// Bins: 0 underflow, 1..N, N+1 overflow. Statistics sums are kept by Fill and
// invalidated by SetBinContent, after which they are rebuilt from the bins.
#ifndef ROOT_TH1
#define ROOT_TH1

#include <cfloat>
#include <string>

#include "TArrayD.h"
#include "TArrayF.h"
#include "TAttFill.h"
#include "TAttLine.h"
#include "TAttMarker.h"
#include "TAxis.h"
#include "TNamed.h"

class TDirectory;
class TF1;
class TList;

namespace rootcompat {
class JSONWriter;
class RootStreamer;
class RootReader;
}

class TH1 : public TNamed, public TAttLine, public TAttFill, public TAttMarker {
 public:
  enum { kNoStats = BIT(9), kUserContour = BIT(10), kIsZoomed = BIT(16), kNoTitle = BIT(17), kIsAverage = BIT(18) };
  enum { kNstat = 13 };

  ~TH1() override;

  const char* ClassName() const override { return "TH1"; }
  void Copy(TObject& hnew) const override;
  void Draw(Option_t* option = "") override;
  virtual TH1* DrawCopy(Option_t* option = "") const;
  void SetName(const char* name) override;
  void SetTitle(const char* title) override;

  virtual Int_t Fill(Double_t x);
  virtual Int_t Fill(Double_t x, Double_t w);
  virtual void AddBinContent(Int_t bin) = 0;
  virtual void AddBinContent(Int_t bin, Double_t w) = 0;
  virtual Int_t FindBin(Double_t x, Double_t y = 0, Double_t z = 0);
  virtual Int_t GetBin(Int_t binx, Int_t biny = 0, Int_t binz = 0) const;
  virtual Double_t GetBinContent(Int_t bin) const;
  virtual Double_t GetBinContent(Int_t binx, Int_t biny) const;
  virtual Double_t GetBinContent(Int_t binx, Int_t biny, Int_t binz) const;
  virtual void SetBinContent(Int_t bin, Double_t content);
  virtual void SetBinContent(Int_t binx, Int_t biny, Double_t content);
  virtual void SetBinContent(Int_t binx, Int_t biny, Int_t binz, Double_t content);
  virtual Double_t GetBinError(Int_t bin) const;
  virtual Double_t GetBinError(Int_t binx, Int_t biny) const;
  virtual Double_t GetBinError(Int_t binx, Int_t biny, Int_t binz) const;
  virtual void SetBinError(Int_t bin, Double_t error);
  virtual void SetBinError(Int_t binx, Int_t biny, Double_t error);
  virtual void SetBinError(Int_t binx, Int_t biny, Int_t binz, Double_t error);
  virtual Double_t GetBinCenter(Int_t bin) const { return fXaxis.GetBinCenter(bin); }
  virtual Double_t GetBinLowEdge(Int_t bin) const { return fXaxis.GetBinLowEdge(bin); }
  virtual Double_t GetBinWidth(Int_t bin) const { return fXaxis.GetBinWidth(bin); }

  virtual Int_t GetDimension() const { return fDimension; }
  virtual Int_t GetNbinsX() const { return fXaxis.GetNbins(); }
  virtual Int_t GetNbinsY() const { return fYaxis.GetNbins(); }
  virtual Int_t GetNbinsZ() const { return fZaxis.GetNbins(); }
  virtual Int_t GetNcells() const { return fNcells; }
  TAxis* GetXaxis() { return &fXaxis; }
  TAxis* GetYaxis() { return &fYaxis; }
  TAxis* GetZaxis() { return &fZaxis; }
  const TAxis* GetXaxis() const { return &fXaxis; }
  const TAxis* GetYaxis() const { return &fYaxis; }
  const TAxis* GetZaxis() const { return &fZaxis; }

  virtual Double_t GetEntries() const { return fEntries; }
  virtual void SetEntries(Double_t n) { fEntries = n; }
  virtual Double_t GetEffectiveEntries() const;
  virtual void GetStats(Double_t* stats) const;
  virtual void PutStats(Double_t* stats);
  virtual void ResetStats();
  virtual Double_t GetSumOfWeights() const;
  virtual Double_t GetMean(Int_t axis = 1) const;
  virtual Double_t GetRMS(Int_t axis = 1) const;
  virtual Double_t Integral(Option_t* option = "") const;
  virtual Double_t Integral(Int_t binx1, Int_t binx2, Option_t* option = "") const;
  virtual Int_t GetMaximumBin() const;
  virtual Double_t GetMaximum(Double_t maxval = FLT_MAX) const;
  virtual Double_t GetMinimum(Double_t minval = -FLT_MAX) const;
  virtual Double_t GetMaximumStored() const { return fMaximum; }
  virtual Double_t GetMinimumStored() const { return fMinimum; }
  virtual void SetMaximum(Double_t maximum = -1111) { fMaximum = maximum; }
  virtual void SetMinimum(Double_t minimum = -1111) { fMinimum = minimum; }

  virtual void Reset(Option_t* option = "");
  virtual void Scale(Double_t c1 = 1, Option_t* option = "");
  virtual void Sumw2();
  virtual const TArrayD* GetSumw2() const { return &fSumw2; }
  virtual TArrayD* GetSumw2() { return &fSumw2; }
  virtual Int_t GetSumw2N() const { return fSumw2.fN; }

  // Chi-square fit of the bin contents with f1. Options: R (use f1's range),
  // Q (quiet), 0 (do not draw), N (do not store f1 with the histogram).
  // Returns 0 when the fit converged, -1 when there was nothing to fit.
  virtual Int_t Fit(TF1* f1, Option_t* option = "", Option_t* goption = "", Double_t xmin = 0,
                    Double_t xmax = 0);
  TList* GetListOfFunctions() const { return fFunctions; }
  virtual TF1* GetFunction(const char* name) const;

  TDirectory* GetDirectory() const { return fDirectory; }
  virtual void SetDirectory(TDirectory* dir);
  static void AddDirectory(Bool_t add = kTRUE);
  static Bool_t AddDirectoryStatus();
  static void StatOverflows(Bool_t flag = kTRUE);

  Option_t* GetOption() const override { return fOption.c_str(); }
  virtual void SetOption(Option_t* option = " ") { fOption = option; }
  virtual void SetStats(Bool_t stats = kTRUE);
  virtual Short_t GetBarOffset() const { return fBarOffset; }
  virtual Short_t GetBarWidth() const { return fBarWidth; }
  virtual Double_t GetNormFactor() const { return fNormFactor; }

 protected:
  TH1();
  TH1(const char* name, const char* title, Int_t nbinsx, Double_t xlow, Double_t xup);
  TH1(const TH1&) = delete;
  TH1& operator=(const TH1&) = delete;

  // Fill(x) and Fill(x, w), the bin's content raised by add(bin) and
  // add(bin, w): kept in the header, so that a fill through a TH1F or TH1D,
  // whose Fill is final and adds to its own array, compiles to a few
  // instructions at its caller (the monitor fills twenty per event).
  template <class Add>
  Int_t FillWith(Double_t x, Add add);
  template <class Add>
  Int_t FillWith(Double_t x, Double_t w, Add add);

  // Raw cell access of the concrete storage; no range checks.
  virtual Double_t RetrieveBinContent(Int_t bin) const = 0;
  virtual void UpdateBinContent(Int_t bin, Double_t content) = 0;
  // Joins the current directory when directories are in use.
  void AddToDirectory(Bool_t replace);
  // Completes a copy made by a Clone: functions, new name, directory.
  TH1* FinishClone(TH1* copy, const char* newname) const;
  void SetAxisParents();

  Int_t fNcells;
  TAxis fXaxis;
  TAxis fYaxis;
  TAxis fZaxis;
  Short_t fBarOffset;
  Short_t fBarWidth;
  Double_t fEntries;
  Double_t fTsumw;
  Double_t fTsumw2;
  Double_t fTsumwx;
  Double_t fTsumwx2;
  Double_t fMaximum;
  Double_t fMinimum;
  Double_t fNormFactor;
  TArrayD fContour;
  TArrayD fSumw2;
  std::string fOption;
  TList* fFunctions;
  TDirectory* fDirectory;
  Int_t fDimension;

  static Bool_t fgAddDirectory;
  static Bool_t fgStatOverflows;

 private:
  friend class rootcompat::JSONWriter;
  friend class rootcompat::RootStreamer;
  friend class rootcompat::RootReader;
};

class TH1F : public TH1, public TArrayF {
 public:
  TH1F();
  TH1F(const char* name, const char* title, Int_t nbinsx, Double_t xlow, Double_t xup);
  TH1F(const TH1F& h1f);
  TH1F& operator=(const TH1F& h1);
  ~TH1F() override = default;

  const char* ClassName() const override { return "TH1F"; }
  TObject* Clone(const char* newname = "") const override;
  void Copy(TObject& hnew) const override;
  Int_t Fill(Double_t x) final {
    return FillWith(x, [this](Int_t bin) { TH1F::AddBinContent(bin); });
  }
  Int_t Fill(Double_t x, Double_t w) final {
    return FillWith(x, w, [this](Int_t bin, Double_t weight) { TH1F::AddBinContent(bin, weight); });
  }
  void AddBinContent(Int_t bin) override { ++fArray[bin]; }
  void AddBinContent(Int_t bin, Double_t w) override { fArray[bin] += Float_t(w); }
  void Reset(Option_t* option = "") override;

 protected:
  Double_t RetrieveBinContent(Int_t bin) const override { return Double_t(fArray[bin]); }
  void UpdateBinContent(Int_t bin, Double_t content) override { fArray[bin] = Float_t(content); }
};

class TH1D : public TH1, public TArrayD {
 public:
  TH1D();
  TH1D(const char* name, const char* title, Int_t nbinsx, Double_t xlow, Double_t xup);
  TH1D(const TH1D& h1d);
  TH1D& operator=(const TH1D& h1);
  ~TH1D() override = default;

  const char* ClassName() const override { return "TH1D"; }
  TObject* Clone(const char* newname = "") const override;
  void Copy(TObject& hnew) const override;
  Int_t Fill(Double_t x) final {
    return FillWith(x, [this](Int_t bin) { TH1D::AddBinContent(bin); });
  }
  Int_t Fill(Double_t x, Double_t w) final {
    return FillWith(x, w, [this](Int_t bin, Double_t weight) { TH1D::AddBinContent(bin, weight); });
  }
  void AddBinContent(Int_t bin) override { ++fArray[bin]; }
  void AddBinContent(Int_t bin, Double_t w) override { fArray[bin] += w; }
  void Reset(Option_t* option = "") override;

 protected:
  Double_t RetrieveBinContent(Int_t bin) const override { return fArray[bin]; }
  void UpdateBinContent(Int_t bin, Double_t content) override { fArray[bin] = content; }
};

template <class Add>
Int_t TH1::FillWith(Double_t x, Add add) {
  fEntries++;
  const Int_t bin = fXaxis.FindFixBin(x);
  if (bin < 0) return -1;
  add(bin);
  if (fSumw2.fN) ++fSumw2.fArray[bin];
  if ((bin == 0 || bin > fXaxis.GetNbins()) && !fgStatOverflows) return -1;
  ++fTsumw;
  ++fTsumw2;
  fTsumwx += x;
  fTsumwx2 += x * x;
  return bin;
}

template <class Add>
Int_t TH1::FillWith(Double_t x, Double_t w, Add add) {
  fEntries++;
  const Int_t bin = fXaxis.FindFixBin(x);
  if (bin < 0) return -1;
  if (!fSumw2.fN && w != 1.0) Sumw2();
  if (fSumw2.fN) fSumw2.fArray[bin] += w * w;
  add(bin, w);
  if ((bin == 0 || bin > fXaxis.GetNbins()) && !fgStatOverflows) return -1;
  fTsumw += w;
  fTsumw2 += w * w;
  fTsumwx += w * x;
  fTsumwx2 += w * x * x;
  return bin;
}

#endif
