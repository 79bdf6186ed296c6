// Two-dimensional histograms (TH2 base, TH2F with float contents).
// Global bin = binx + (nx+2)*biny, x varying fastest; cells include the
// underflow/overflow rows and columns.
#ifndef ROOT_TH2
#define ROOT_TH2

#include <string>

#include "TH1.h"

class TH2 : public TH1 {
 public:
  ~TH2() override = default;

  const char* ClassName() const override { return "TH2"; }
  void Copy(TObject& hnew) const override;

  using TH1::Fill;
  Int_t Fill(Double_t x) override;
  Int_t Fill(Double_t x, Double_t y) override;
  virtual Int_t Fill(Double_t x, Double_t y, Double_t w);
  Int_t FindBin(Double_t x, Double_t y = 0, Double_t z = 0) override;
  // Global bin of (binx, biny), each clamped to its axis's cells as ROOT does.
  Int_t GetBin(Int_t binx, Int_t biny = 0, Int_t = 0) const override {
    const Int_t ofx = fXaxis.GetNbins() + 2;
    const Int_t ofy = fYaxis.GetNbins() + 2;
    if (binx < 0) binx = 0;
    if (binx >= ofx) binx = ofx - 1;
    if (biny < 0) biny = 0;
    if (biny >= ofy) biny = ofy - 1;
    return binx + ofx * biny;
  }
  void GetStats(Double_t* stats) const override;
  void PutStats(Double_t* stats) override;
  void Reset(Option_t* option = "") override;
  Double_t Integral(Option_t* option = "") const override;
  // Over x bins binx1..binx2 and every y bin, underflow and overflow included.
  Double_t Integral(Int_t binx1, Int_t binx2, Option_t* option = "") const override;
  virtual Double_t Integral(Int_t binx1, Int_t binx2, Int_t biny1, Int_t biny2, Option_t* option = "") const;
  virtual Double_t GetCellContent(Int_t binx, Int_t biny) const { return GetBinContent(GetBin(binx, biny)); }
  virtual Double_t GetCellError(Int_t binx, Int_t biny) const { return GetBinError(GetBin(binx, biny)); }

  // Sum over y bins firstybin..lastybin (0..-1: all, under/overflow included)
  // into a TH1D; the name "_px" becomes "<name>_px".
  TH1D* ProjectionX(const char* name = "_px", Int_t firstybin = 0, Int_t lastybin = -1, Option_t* option = "") const;
  TH1D* ProjectionY(const char* name = "_py", Int_t firstxbin = 0, Int_t lastxbin = -1, Option_t* option = "") const;

 protected:
  TH2();
  TH2(const char* name, const char* title, Int_t nbinsx, Double_t xlow, Double_t xup, Int_t nbinsy, Double_t ylow,
      Double_t yup);

  TH1D* DoProjection(bool onX, const char* name, Int_t firstbin, Int_t lastbin, Option_t* option) const;

  Double_t fScalefactor;
  Double_t fTsumwy;
  Double_t fTsumwy2;
  Double_t fTsumwxy;

 private:
  // The steps of DoProjection.
  static void ClampProjectionRange(const TAxis& inAxis, Int_t& firstbin, Int_t& lastbin);
  TH1D* ProjectionTarget(const std::string& name, const TAxis& outAxis, bool errors) const;
  void CopyProjectionStyle(TH1D& h1, const TAxis& outAxis) const;
  Double_t FillProjection(TH1D& h1, bool onX, Int_t firstbin, Int_t lastbin) const;
  void SetProjectionStats(TH1D& h1, bool onX, Int_t firstbin, Int_t lastbin, Double_t total) const;

  friend class rootcompat::JSONWriter;
  friend class rootcompat::RootStreamer;
  friend class rootcompat::RootReader;
};

class TH2F : public TH2, public TArrayF {
 public:
  TH2F();
  TH2F(const char* name, const char* title, Int_t nbinsx, Double_t xlow, Double_t xup, Int_t nbinsy, Double_t ylow,
       Double_t yup);
  TH2F(const TH2F& h2f);
  TH2F& operator=(const TH2F& h2f);
  ~TH2F() override = default;

  const char* ClassName() const override { return "TH2F"; }
  TObject* Clone(const char* newname = "") const override;
  void Copy(TObject& hnew) const override;
  void AddBinContent(Int_t bin) override { ++fArray[bin]; }
  void AddBinContent(Int_t bin, Double_t w) override { fArray[bin] += Float_t(w); }
  void Reset(Option_t* option = "") override;

  // Bin access used by whole-map passes; indices are clamped as ROOT does.
  using TH2::GetBinContent;
  Double_t GetBinContent(Int_t bin) const final {
    if (bin < 0) bin = 0;
    if (bin >= fNcells) bin = fNcells - 1;
    return Double_t(fArray[bin]);
  }
  Double_t GetBinContent(Int_t binx, Int_t biny) const final { return GetBinContent(TH2::GetBin(binx, biny)); }
  using TH2::SetBinContent;
  void SetBinContent(Int_t bin, Double_t content) final {
    fEntries++;
    fTsumw = 0;
    if (bin < 0 || bin >= fNcells) return;
    fArray[bin] = Float_t(content);
  }
  void SetBinContent(Int_t binx, Int_t biny, Double_t content) final {
    if (binx < 0 || binx > fXaxis.GetNbins() + 1) return;
    if (biny < 0 || biny > fYaxis.GetNbins() + 1) return;
    SetBinContent(binx + (fXaxis.GetNbins() + 2) * biny, content);
  }

 protected:
  Double_t RetrieveBinContent(Int_t bin) const override { return Double_t(fArray[bin]); }
  void UpdateBinContent(Int_t bin, Double_t content) override { fArray[bin] = Float_t(content); }
};

#endif
