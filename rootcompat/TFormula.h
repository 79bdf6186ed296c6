// Parametrised formula. Only ROOT's predefined "gaus" is known:
// [Constant]*exp(-0.5*((x-[Mean])/[Sigma])^2).
#ifndef ROOT_TFormula
#define ROOT_TFormula

#include <string>
#include <vector>

#include "TNamed.h"

namespace rootcompat {
class JSONWriter;
}

class TFormula : public TNamed {
 public:
  TFormula();
  TFormula(const char* name, const char* expression);
  TFormula(const TFormula& formula) = default;
  TFormula& operator=(const TFormula& rhs) = default;
  ~TFormula() override = default;

  const char* ClassName() const override { return "TFormula"; }
  virtual Double_t EvalPar(const Double_t* x, const Double_t* params = nullptr) const;
  virtual Int_t GetNpar() const { return Int_t(fParams.size()); }
  virtual Double_t GetParameter(Int_t ipar) const;
  Double_t GetParameter(const char* name) const;
  virtual Double_t* GetParameters() { return fParams.data(); }
  virtual void GetParameters(Double_t* params) const;
  virtual const char* GetParName(Int_t ipar) const;
  virtual Int_t GetParNumber(const char* name) const;
  const char* GetExpFormula() const { return fFormula.c_str(); }
  virtual void SetParameter(Int_t ipar, Double_t parvalue);
  virtual void SetParameter(const char* name, Double_t parvalue);
  virtual void SetParameters(const Double_t* params);
  virtual void SetParameters(Double_t p0, Double_t p1, Double_t p2 = 0, Double_t p3 = 0, Double_t p4 = 0,
                             Double_t p5 = 0, Double_t p6 = 0, Double_t p7 = 0, Double_t p8 = 0, Double_t p9 = 0,
                             Double_t p10 = 0);
  virtual void SetParName(Int_t ipar, const char* name);

 protected:
  std::string fFormula;
  Int_t fNumber;
  std::vector<Double_t> fParams;
  std::vector<std::string> fNames;

 private:
  friend class rootcompat::JSONWriter;
};

#endif
