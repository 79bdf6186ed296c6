#include "TStyle.h"

TStyle* gStyle = new TStyle("Default", "Default Style");

TStyle::TStyle() { Reset(); }

TStyle::TStyle(const char* name, const char* title) : TNamed(name, title) { Reset(); }

void TStyle::Reset(Option_t*) {
  ResetAttLine();
  ResetAttFill();
  ResetAttMarker();
  ResetAttText();
  fFillColor = 0;
  fFillStyle = 1001;
  fCanvasColor = 0;
  fCanvasBorderSize = 2;
  fCanvasBorderMode = 0;
  fPadColor = 0;
  fPadBorderSize = 2;
  fPadBorderMode = 0;
  fPadBottomMargin = 0.1f;
  fPadTopMargin = 0.1f;
  fPadLeftMargin = 0.1f;
  fPadRightMargin = 0.1f;
  fPadGridX = kFALSE;
  fPadGridY = kFALSE;
  fPadTickX = 0;
  fPadTickY = 0;
  fOptLogx = 0;
  fOptLogy = 0;
  fOptLogz = 0;
  fOptStat = 1;
  fOptFit = 0;
  fOptTitle = 1;
  fHistFillColor = 0;
  fHistLineColor = 602;
  fHistFillStyle = 1001;
  fHistLineStyle = 1;
  fHistLineWidth = 1;
  fFrameFillColor = 0;
  fFrameLineColor = 1;
  fFrameFillStyle = 1001;
  fFrameLineStyle = 1;
  fFrameLineWidth = 1;
  fFrameBorderSize = 1;
  fFrameBorderMode = 0;
  fNumberContours = 20;
}
