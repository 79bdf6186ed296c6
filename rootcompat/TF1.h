// One-dimensional function on a range, with parameter errors and fit results.
#ifndef ROOT_TF1
#define ROOT_TF1

#include <vector>

#include "TAttFill.h"
#include "TAttLine.h"
#include "TAttMarker.h"
#include "TFormula.h"

class TH1;

class TF1 : public TFormula, public TAttLine, public TAttFill, public TAttMarker {
 public:
  enum { kNotDraw = BIT(9) };

  TF1();
  TF1(const char* name, const char* formula, Double_t xmin = 0, Double_t xmax = 1);
  TF1(const TF1& f1);
  TF1& operator=(const TF1& rhs);
  ~TF1() override;

  const char* ClassName() const override { return "TF1"; }
  TObject* Clone(const char* newname = "") const override;
  void Draw(Option_t* option = "") override;
  virtual Double_t Eval(Double_t x, Double_t y = 0, Double_t z = 0, Double_t t = 0) const;
  virtual Double_t operator()(Double_t x, Double_t y = 0, Double_t z = 0, Double_t t = 0) const {
    return Eval(x, y, z, t);
  }
  Double_t GetChisquare() const { return fChisquare; }
  virtual Int_t GetNDF() const { return fNDF; }
  virtual Int_t GetNpx() const { return fNpx; }
  virtual Double_t GetParError(Int_t ipar) const;
  virtual const Double_t* GetParErrors() const { return fParErrors.data(); }
  virtual void GetParLimits(Int_t ipar, Double_t& parmin, Double_t& parmax) const;
  virtual Double_t GetXmin() const { return fXmin; }
  virtual Double_t GetXmax() const { return fXmax; }
  virtual void GetRange(Double_t& xmin, Double_t& xmax) const;
  virtual TH1* GetHistogram() const { return nullptr; }
  virtual void SetChisquare(Double_t chi2) { fChisquare = chi2; }
  virtual void SetNDF(Int_t ndf) { fNDF = ndf; }
  virtual void SetNpx(Int_t npx = 100);
  virtual void SetParError(Int_t ipar, Double_t error);
  virtual void SetParErrors(const Double_t* errors);
  virtual void SetParLimits(Int_t ipar, Double_t parmin, Double_t parmax);
  virtual void SetRange(Double_t xmin, Double_t xmax);

 protected:
  Double_t fXmin;
  Double_t fXmax;
  Int_t fNpx;
  Int_t fNDF;
  Double_t fChisquare;
  std::vector<Double_t> fParErrors;
  std::vector<Double_t> fParMin;
  std::vector<Double_t> fParMax;

 private:
  friend class rootcompat::JSONWriter;
};

#endif
