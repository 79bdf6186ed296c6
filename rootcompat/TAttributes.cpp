// Line, fill, marker, text, axis and pad attributes, with their gStyle defaults.
#include "TAttAxis.h"
#include "TAttFill.h"
#include "TAttLine.h"
#include "TAttMarker.h"
#include "TAttPad.h"
#include "TAttText.h"
#include "TStyle.h"

TAttLine::TAttLine() {
  ResetAttLine();
  if (!gStyle) return;
  fLineColor = gStyle->GetLineColor();
  fLineStyle = gStyle->GetLineStyle();
  fLineWidth = gStyle->GetLineWidth();
}

TAttLine::TAttLine(Color_t lcolor, Style_t lstyle, Width_t lwidth)
    : fLineColor(lcolor), fLineStyle(lstyle), fLineWidth(lwidth) {}

void TAttLine::Copy(TAttLine& attline) const {
  attline.fLineColor = fLineColor;
  attline.fLineStyle = fLineStyle;
  attline.fLineWidth = fLineWidth;
}

void TAttLine::ResetAttLine(Option_t*) {
  fLineColor = 1;
  fLineStyle = 1;
  fLineWidth = 1;
}

TAttFill::TAttFill() {
  ResetAttFill();
  if (!gStyle) return;
  fFillColor = gStyle->GetFillColor();
  fFillStyle = gStyle->GetFillStyle();
}

TAttFill::TAttFill(Color_t fcolor, Style_t fstyle) : fFillColor(fcolor), fFillStyle(fstyle) {}

void TAttFill::Copy(TAttFill& attfill) const {
  attfill.fFillColor = fFillColor;
  attfill.fFillStyle = fFillStyle;
}

void TAttFill::ResetAttFill(Option_t*) {
  fFillColor = 1;
  fFillStyle = 0;
}

TAttMarker::TAttMarker() {
  ResetAttMarker();
  if (!gStyle) return;
  fMarkerColor = gStyle->GetMarkerColor();
  fMarkerStyle = gStyle->GetMarkerStyle();
  fMarkerSize = gStyle->GetMarkerSize();
}

TAttMarker::TAttMarker(Color_t color, Style_t style, Size_t msize)
    : fMarkerColor(color), fMarkerStyle(style), fMarkerSize(msize) {}

void TAttMarker::Copy(TAttMarker& attmarker) const {
  attmarker.fMarkerColor = fMarkerColor;
  attmarker.fMarkerStyle = fMarkerStyle;
  attmarker.fMarkerSize = fMarkerSize;
}

void TAttMarker::ResetAttMarker(Option_t*) {
  fMarkerColor = 1;
  fMarkerStyle = 1;
  fMarkerSize = 1;
}

TAttText::TAttText() {
  ResetAttText();
  if (!gStyle) return;
  fTextAlign = gStyle->GetTextAlign();
  fTextAngle = gStyle->GetTextAngle();
  fTextColor = gStyle->GetTextColor();
  fTextFont = gStyle->GetTextFont();
  fTextSize = gStyle->GetTextSize();
}

TAttText::TAttText(Int_t align, Float_t angle, Color_t color, Style_t font, Float_t tsize)
    : fTextAngle(angle), fTextSize(tsize), fTextAlign(Short_t(align)), fTextColor(color), fTextFont(font) {}

void TAttText::Copy(TAttText& atttext) const {
  atttext.fTextAlign = fTextAlign;
  atttext.fTextAngle = fTextAngle;
  atttext.fTextColor = fTextColor;
  atttext.fTextFont = fTextFont;
  atttext.fTextSize = fTextSize;
}

void TAttText::ResetAttText(Option_t*) {
  fTextAlign = 11;
  fTextAngle = 0;
  fTextColor = 1;
  fTextFont = 62;
  fTextSize = 0.05f;
}

TAttAxis::TAttAxis() { ResetAttAxis(); }

void TAttAxis::Copy(TAttAxis& attaxis) const { attaxis = *this; }

void TAttAxis::ResetAttAxis(Option_t*) {
  fNdivisions = 510;
  fAxisColor = 1;
  fLabelColor = 1;
  fLabelFont = 42;
  fLabelOffset = 0.005f;
  fLabelSize = 0.035f;
  fTickLength = 0.03f;
  fTitleOffset = 1;
  fTitleSize = 0.035f;
  fTitleColor = 1;
  fTitleFont = 42;
}

void TAttAxis::SetNdivisions(Int_t n, Bool_t optim) { fNdivisions = optim ? n : -n; }

TAttPad::TAttPad() { ResetAttPad(); }

void TAttPad::Copy(TAttPad& attpad) const { attpad = *this; }

void TAttPad::ResetAttPad(Option_t*) {
  fLeftMargin = gStyle ? gStyle->GetPadLeftMargin() : 0.1f;
  fRightMargin = gStyle ? gStyle->GetPadRightMargin() : 0.1f;
  fBottomMargin = gStyle ? gStyle->GetPadBottomMargin() : 0.1f;
  fTopMargin = gStyle ? gStyle->GetPadTopMargin() : 0.1f;
  fXfile = 2;
  fYfile = 2;
  fAfile = 1;
  fXstat = 0.99f;
  fYstat = 0.99f;
  fAstat = 2;
  fFrameFillColor = gStyle ? gStyle->GetFrameFillColor() : 0;
  fFrameLineColor = gStyle ? gStyle->GetFrameLineColor() : 1;
  fFrameFillStyle = gStyle ? gStyle->GetFrameFillStyle() : 1001;
  fFrameLineStyle = gStyle ? gStyle->GetFrameLineStyle() : 1;
  fFrameLineWidth = gStyle ? gStyle->GetFrameLineWidth() : 1;
  fFrameBorderSize = gStyle ? gStyle->GetFrameBorderSize() : 1;
  fFrameBorderMode = gStyle ? gStyle->GetFrameBorderMode() : 0;
}

void TAttPad::SetBottomMargin(Float_t bottommargin) {
  if (bottommargin < 0 || bottommargin >= 1) bottommargin = 0.1f;
  if (bottommargin + fTopMargin >= 1) return;
  fBottomMargin = bottommargin;
}

void TAttPad::SetLeftMargin(Float_t leftmargin) {
  if (leftmargin < 0 || leftmargin >= 1) leftmargin = 0.1f;
  if (leftmargin + fRightMargin >= 1) return;
  fLeftMargin = leftmargin;
}

void TAttPad::SetRightMargin(Float_t rightmargin) {
  if (rightmargin < 0 || rightmargin >= 1) rightmargin = 0.1f;
  if (rightmargin + fLeftMargin >= 1) return;
  fRightMargin = rightmargin;
}

void TAttPad::SetTopMargin(Float_t topmargin) {
  if (topmargin < 0 || topmargin >= 1) topmargin = 0.1f;
  if (topmargin + fBottomMargin >= 1) return;
  fTopMargin = topmargin;
}

void TAttPad::SetMargin(Float_t left, Float_t right, Float_t bottom, Float_t top) {
  SetLeftMargin(left);
  SetRightMargin(right);
  SetBottomMargin(bottom);
  SetTopMargin(top);
}
