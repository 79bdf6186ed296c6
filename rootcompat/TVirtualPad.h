// Abstract pad: what code may ask of gPad, the current pad.
#ifndef ROOT_TVirtualPad
#define ROOT_TVirtualPad

#include "TAttFill.h"
#include "TAttLine.h"
#include "TAttPad.h"
#include "TObject.h"

class TCanvas;
class TList;

class TVirtualPad : public TObject, public TAttLine, public TAttFill, public TAttPad {
 public:
  TVirtualPad() = default;
  TVirtualPad(const TVirtualPad&) = delete;
  TVirtualPad& operator=(const TVirtualPad&) = delete;
  ~TVirtualPad() override;

  const char* ClassName() const override { return "TVirtualPad"; }
  virtual TVirtualPad* cd(Int_t subpadnumber = 0) = 0;
  virtual void Clear(Option_t* option = "") = 0;
  virtual Double_t GetAbsXlowNDC() const = 0;
  virtual Double_t GetAbsYlowNDC() const = 0;
  virtual Double_t GetAbsWNDC() const = 0;
  virtual Double_t GetAbsHNDC() const = 0;
  virtual TCanvas* GetCanvas() const = 0;
  virtual TVirtualPad* GetVirtCanvas() const = 0;
  virtual Int_t GetGridx() const = 0;
  virtual Int_t GetGridy() const = 0;
  virtual TList* GetListOfPrimitives() const = 0;
  virtual Int_t GetLogx() const = 0;
  virtual Int_t GetLogy() const = 0;
  virtual Int_t GetLogz() const = 0;
  virtual TVirtualPad* GetMother() const = 0;
  virtual Int_t GetNumber() const = 0;
  virtual TObject* GetPrimitive(const char* name) const = 0;
  virtual Int_t GetTickx() const = 0;
  virtual Int_t GetTicky() const = 0;
  virtual Double_t GetXlowNDC() const = 0;
  virtual Double_t GetYlowNDC() const = 0;
  virtual Double_t GetWNDC() const = 0;
  virtual Double_t GetHNDC() const = 0;
  virtual Bool_t IsEditable() const = 0;
  virtual Bool_t IsModified() const = 0;
  virtual void Modified(Bool_t flag = 1) = 0;
  virtual void SetGrid(Int_t valuex = 1, Int_t valuey = 1) = 0;
  virtual void SetLogx(Int_t value = 1) = 0;
  virtual void SetLogy(Int_t value = 1) = 0;
  virtual void SetLogz(Int_t value = 1) = 0;
  virtual void SetTicks(Int_t valuex = 1, Int_t valuey = 1) = 0;
  virtual void SetTickx(Int_t value = 1) = 0;
  virtual void SetTicky(Int_t value = 1) = 0;
  virtual void Update() = 0;

  // The current pad, that gPad names.
  static TVirtualPad*& Pad();
};

#define gPad (TVirtualPad::Pad())

#endif
