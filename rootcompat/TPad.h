// A pad: a rectangle of its mother pad, in the mother's normalised coordinates,
// holding a list of primitives with their draw options.
#ifndef ROOT_TPad
#define ROOT_TPad

#include <string>

#include "TVirtualPad.h"

namespace rootcompat {
class JSONWriter;
class PadMembers;
}

class TPad : public TVirtualPad {
 public:
  TPad();
  // Needs a current pad (a canvas) to be its mother.
  TPad(const char* name, const char* title, Double_t xlow, Double_t ylow, Double_t xup, Double_t yup,
       Color_t color = -1, Short_t bordersize = -1, Short_t bordermode = -2);
  ~TPad() override;

  const char* ClassName() const override { return "TPad"; }
  TVirtualPad* cd(Int_t subpadnumber = 0) override;
  void Clear(Option_t* option = "") override;
  void Draw(Option_t* option = "") override;
  TObject* FindObject(const char* name) const override;
  using TObject::FindObject;
  Double_t GetAbsXlowNDC() const override { return fAbsXlowNDC; }
  Double_t GetAbsYlowNDC() const override { return fAbsYlowNDC; }
  Double_t GetAbsWNDC() const override { return fAbsWNDC; }
  Double_t GetAbsHNDC() const override { return fAbsHNDC; }
  Short_t GetBorderMode() const { return fBorderMode; }
  Short_t GetBorderSize() const { return fBorderSize; }
  TCanvas* GetCanvas() const override { return fCanvas; }
  TVirtualPad* GetVirtCanvas() const override;
  Int_t GetGridx() const override { return fGridx; }
  Int_t GetGridy() const override { return fGridy; }
  TList* GetListOfPrimitives() const override { return fPrimitives; }
  Int_t GetLogx() const override { return fLogx; }
  Int_t GetLogy() const override { return fLogy; }
  Int_t GetLogz() const override { return fLogz; }
  TVirtualPad* GetMother() const override { return fMother; }
  const char* GetName() const override { return fName.c_str(); }
  Int_t GetNumber() const override { return fNumber; }
  TObject* GetPrimitive(const char* name) const override;
  Int_t GetTickx() const override { return fTickx; }
  Int_t GetTicky() const override { return fTicky; }
  const char* GetTitle() const override { return fTitle.c_str(); }
  Double_t GetXlowNDC() const override { return fXlowNDC; }
  Double_t GetYlowNDC() const override { return fYlowNDC; }
  Double_t GetWNDC() const override { return fWNDC; }
  Double_t GetHNDC() const override { return fHNDC; }
  Bool_t IsEditable() const override { return fEditable; }
  Bool_t IsModified() const override { return fModified; }
  void Modified(Bool_t flag = 1) override { fModified = flag; }
  void RecursiveRemove(TObject* obj) override;
  virtual void SetBorderMode(Short_t bordermode) { fBorderMode = bordermode; }
  virtual void SetBorderSize(Short_t bordersize) { fBorderSize = bordersize; }
  virtual void SetEditable(Bool_t mode = kTRUE) { fEditable = mode; }
  void SetGrid(Int_t valuex = 1, Int_t valuey = 1) override;
  void SetLogx(Int_t value = 1) override { fLogx = value; }
  void SetLogy(Int_t value = 1) override { fLogy = value; }
  void SetLogz(Int_t value = 1) override { fLogz = value; }
  virtual void SetName(const char* name) { fName = name; }
  virtual void SetNumber(Int_t number) { fNumber = number; }
  virtual void SetPad(Double_t xlow, Double_t ylow, Double_t xup, Double_t yup);
  void SetTicks(Int_t valuex = 1, Int_t valuey = 1) override;
  void SetTickx(Int_t value = 1) override { fTickx = value; }
  void SetTicky(Int_t value = 1) override { fTicky = value; }
  virtual void SetTitle(const char* title = "") { fTitle = title; }
  void Update() override;

 protected:
  // Recomputes the absolute position from the mother's, then the children's.
  void ResizePad();

  Double_t fXlowNDC;
  Double_t fYlowNDC;
  Double_t fXUpNDC;
  Double_t fYUpNDC;
  Double_t fWNDC;
  Double_t fHNDC;
  Double_t fAbsXlowNDC;
  Double_t fAbsYlowNDC;
  Double_t fAbsWNDC;
  Double_t fAbsHNDC;
  Int_t fNumber;
  Int_t fTickx;
  Int_t fTicky;
  Int_t fLogx;
  Int_t fLogy;
  Int_t fLogz;
  Short_t fBorderSize;
  Short_t fBorderMode;
  Bool_t fModified;
  Bool_t fGridx;
  Bool_t fGridy;
  Bool_t fEditable;
  TList* fPrimitives;
  std::string fName;
  std::string fTitle;
  TCanvas* fCanvas;
  TPad* fMother;

 private:
  // Forgets the canvas and mother of this pad and its sub-pads, once they are gone.
  void Detach();

  friend class rootcompat::JSONWriter;
  friend class rootcompat::PadMembers;
};

#endif
