// Graph with asymmetric errors on x and y.
#ifndef ROOT_TGraphAsymmErrors
#define ROOT_TGraphAsymmErrors

#include "TGraph.h"

class TGraphAsymmErrors : public TGraph {
 public:
  TGraphAsymmErrors();
  explicit TGraphAsymmErrors(Int_t n);
  TGraphAsymmErrors(const TGraphAsymmErrors& gr) = default;
  TGraphAsymmErrors& operator=(const TGraphAsymmErrors& gr) = default;
  ~TGraphAsymmErrors() override = default;

  const char* ClassName() const override { return "TGraphAsymmErrors"; }
  TObject* Clone(const char* newname = "") const override;
  Double_t GetErrorXlow(Int_t i) const;
  Double_t GetErrorXhigh(Int_t i) const;
  Double_t GetErrorYlow(Int_t i) const;
  Double_t GetErrorYhigh(Int_t i) const;
  Double_t* GetEXlow() const { return const_cast<Double_t*>(fEXlow.data()); }
  Double_t* GetEXhigh() const { return const_cast<Double_t*>(fEXhigh.data()); }
  Double_t* GetEYlow() const { return const_cast<Double_t*>(fEYlow.data()); }
  Double_t* GetEYhigh() const { return const_cast<Double_t*>(fEYhigh.data()); }
  virtual void SetPointError(Int_t i, Double_t exl, Double_t exh, Double_t eyl, Double_t eyh);

 protected:
  void ResizeArrays(Int_t n) override;

  std::vector<Double_t> fEXlow;
  std::vector<Double_t> fEXhigh;
  std::vector<Double_t> fEYlow;
  std::vector<Double_t> fEYhigh;

 private:
  friend class rootcompat::JSONWriter;
  friend class rootcompat::RootStreamer;
  friend class rootcompat::RootReader;
};

#endif
