// Graphics style: defaults for new objects' attributes and the stats-box setting.
#ifndef ROOT_TStyle
#define ROOT_TStyle

#include "TAttFill.h"
#include "TAttLine.h"
#include "TAttMarker.h"
#include "TAttText.h"
#include "TNamed.h"

class TStyle : public TNamed, public TAttLine, public TAttFill, public TAttMarker, public TAttText {
 public:
  TStyle();
  TStyle(const char* name, const char* title);
  ~TStyle() override = default;

  const char* ClassName() const override { return "TStyle"; }
  void Reset(Option_t* option = "");

  Color_t GetCanvasColor() const { return fCanvasColor; }
  Width_t GetCanvasBorderSize() const { return fCanvasBorderSize; }
  Int_t GetCanvasBorderMode() const { return fCanvasBorderMode; }
  Color_t GetPadColor() const { return fPadColor; }
  Width_t GetPadBorderSize() const { return fPadBorderSize; }
  Int_t GetPadBorderMode() const { return fPadBorderMode; }
  Float_t GetPadBottomMargin() const { return fPadBottomMargin; }
  Float_t GetPadTopMargin() const { return fPadTopMargin; }
  Float_t GetPadLeftMargin() const { return fPadLeftMargin; }
  Float_t GetPadRightMargin() const { return fPadRightMargin; }
  Bool_t GetPadGridX() const { return fPadGridX; }
  Bool_t GetPadGridY() const { return fPadGridY; }
  Int_t GetPadTickX() const { return fPadTickX; }
  Int_t GetPadTickY() const { return fPadTickY; }
  Int_t GetOptLogx() const { return fOptLogx; }
  Int_t GetOptLogy() const { return fOptLogy; }
  Int_t GetOptLogz() const { return fOptLogz; }
  Int_t GetOptStat() const { return fOptStat; }
  Int_t GetOptFit() const { return fOptFit; }
  Int_t GetOptTitle() const { return fOptTitle; }
  Color_t GetHistFillColor() const { return fHistFillColor; }
  Color_t GetHistLineColor() const { return fHistLineColor; }
  Style_t GetHistFillStyle() const { return fHistFillStyle; }
  Style_t GetHistLineStyle() const { return fHistLineStyle; }
  Width_t GetHistLineWidth() const { return fHistLineWidth; }
  Color_t GetFrameFillColor() const { return fFrameFillColor; }
  Color_t GetFrameLineColor() const { return fFrameLineColor; }
  Style_t GetFrameFillStyle() const { return fFrameFillStyle; }
  Style_t GetFrameLineStyle() const { return fFrameLineStyle; }
  Width_t GetFrameLineWidth() const { return fFrameLineWidth; }
  Width_t GetFrameBorderSize() const { return fFrameBorderSize; }
  Int_t GetFrameBorderMode() const { return fFrameBorderMode; }
  Int_t GetNumberContours() const { return fNumberContours; }

  void SetCanvasColor(Color_t color = 19) { fCanvasColor = color; }
  void SetPadColor(Color_t color = 19) { fPadColor = color; }
  void SetPadBorderSize(Width_t size = 1) { fPadBorderSize = size; }
  void SetPadBorderMode(Int_t mode = 1) { fPadBorderMode = mode; }
  void SetPadBottomMargin(Float_t margin = 0.1) { fPadBottomMargin = margin; }
  void SetPadTopMargin(Float_t margin = 0.1) { fPadTopMargin = margin; }
  void SetPadLeftMargin(Float_t margin = 0.1) { fPadLeftMargin = margin; }
  void SetPadRightMargin(Float_t margin = 0.1) { fPadRightMargin = margin; }
  void SetPadTickX(Int_t tickx) { fPadTickX = tickx; }
  void SetPadTickY(Int_t ticky) { fPadTickY = ticky; }
  void SetOptLogx(Int_t logx = 1) { fOptLogx = logx; }
  void SetOptLogy(Int_t logy = 1) { fOptLogy = logy; }
  void SetOptLogz(Int_t logz = 1) { fOptLogz = logz; }
  void SetOptStat(Int_t stat = 1) { fOptStat = stat; }
  void SetOptFit(Int_t fit = 1) { fOptFit = fit; }
  void SetOptTitle(Int_t tit = 1) { fOptTitle = tit; }
  void SetHistFillColor(Color_t color = 1) { fHistFillColor = color; }
  void SetHistLineColor(Color_t color = 1) { fHistLineColor = color; }
  void SetHistLineWidth(Width_t width = 1) { fHistLineWidth = width; }
  void SetNumberContours(Int_t number = 20) { fNumberContours = number; }

 private:
  Color_t fCanvasColor;
  Width_t fCanvasBorderSize;
  Int_t fCanvasBorderMode;
  Color_t fPadColor;
  Width_t fPadBorderSize;
  Int_t fPadBorderMode;
  Float_t fPadBottomMargin;
  Float_t fPadTopMargin;
  Float_t fPadLeftMargin;
  Float_t fPadRightMargin;
  Bool_t fPadGridX;
  Bool_t fPadGridY;
  Int_t fPadTickX;
  Int_t fPadTickY;
  Int_t fOptLogx;
  Int_t fOptLogy;
  Int_t fOptLogz;
  Int_t fOptStat;
  Int_t fOptFit;
  Int_t fOptTitle;
  Color_t fHistFillColor;
  Color_t fHistLineColor;
  Style_t fHistFillStyle;
  Style_t fHistLineStyle;
  Width_t fHistLineWidth;
  Color_t fFrameFillColor;
  Color_t fFrameLineColor;
  Style_t fFrameFillStyle;
  Style_t fFrameLineStyle;
  Width_t fFrameLineWidth;
  Width_t fFrameBorderSize;
  Int_t fFrameBorderMode;
  Int_t fNumberContours;
};

R__EXTERN TStyle* gStyle;

#endif
