// Pads, canvases and drawing: gPad, primitives with options, ownership of
// drawn copies, graphs and text.
#include <gtest/gtest.h>

#include "TCanvas.h"
#include "TGraphAsymmErrors.h"
#include "TH1F.h"
#include "TLatex.h"
#include "TList.h"
#include "TPad.h"
#include "TROOT.h"
#include "TStyle.h"

namespace {

Option_t* OptionOf(const TList* list, const TObject* obj) {
  TIter next(list);
  while (TObject* o = next())
    if (o == obj) return next.GetOption();
  return nullptr;
}

TEST(Canvas, BecomesCurrentPadAndIsListed) {
  TCanvas c("gc1", "KIVO online monitoring", 1600, 800);
  EXPECT_EQ(gPad, &c);
  EXPECT_EQ(gROOT->GetListOfCanvases()->FindObject("gc1"), &c);
  EXPECT_EQ(gROOT->FindObject("gc1"), &c);
  EXPECT_EQ(c.GetWw(), 1600u);
  EXPECT_STREQ(c.GetTitle(), "KIVO online monitoring");
}

TEST(Canvas, DeletionLeavesNoDanglingCurrentPad) {
  auto* c = new TCanvas("gc_del", "", 100, 100);
  auto* p = new TPad("gp_del", "", 0, 0, 1, 1);
  p->Draw();
  p->cd();
  delete c;
  EXPECT_NE(gPad, static_cast<TVirtualPad*>(p));
  EXPECT_EQ(gROOT->GetListOfCanvases()->FindObject("gc_del"), nullptr);
  delete p;
}

TEST(Pad, PositionInMotherAndAbsoluteCoordinates) {
  TCanvas c("gc2", "", 800, 600);
  TPad outer("outer", "outer", 0.5, 0.0, 1.0, 0.5);
  outer.Draw("");
  outer.cd();
  TPad inner("inner", "inner", 0.2, 0.4, 0.6, 1.0);
  inner.Draw();
  EXPECT_DOUBLE_EQ(inner.GetAbsXlowNDC(), 0.5 + 0.2 * 0.5);
  EXPECT_DOUBLE_EQ(inner.GetAbsYlowNDC(), 0.4 * 0.5);
  EXPECT_DOUBLE_EQ(inner.GetAbsWNDC(), 0.4 * 0.5);
  EXPECT_DOUBLE_EQ(inner.GetAbsHNDC(), 0.6 * 0.5);
  EXPECT_EQ(outer.GetListOfPrimitives()->First(), &inner);
  EXPECT_EQ(inner.GetCanvas(), &c);
}

TEST(Pad, SettersAndCd) {
  TCanvas c("gc3", "", 800, 600);
  TPad p("p3", "p3", 0, 0, 1, 1);
  p.SetMargin(0.1f, 0.05f, 0.2f, 0.15f);
  p.SetTicks(1, 1);
  p.Draw("");
  EXPECT_FLOAT_EQ(p.GetLeftMargin(), 0.1f);
  EXPECT_FLOAT_EQ(p.GetTopMargin(), 0.15f);
  EXPECT_EQ(p.GetTickx(), 1);
  p.cd();
  gPad->SetLogy();
  gPad->SetLogz(1);
  EXPECT_EQ(p.GetLogy(), 1);
  EXPECT_EQ(p.GetLogz(), 1);
  c.cd(0);
  EXPECT_EQ(gPad, &c);
}

TEST(Drawing, HistogramDrawClearsPadUnlessSame) {
  TCanvas c("gc4", "", 800, 600);
  TH1F frame("frame4", "", 10, 0, 10);
  TH1F h("h4", "", 10, 0, 10);
  TLatex label(0.5, 0.5, "x");
  label.Draw("same");
  frame.Draw("");
  EXPECT_EQ(c.GetListOfPrimitives()->GetSize(), 1) << "non-same draw clears the pad";
  h.Draw("hist e same");
  EXPECT_EQ(c.GetListOfPrimitives()->GetSize(), 2);
  EXPECT_STREQ(OptionOf(c.GetListOfPrimitives(), &h), "hist e same");
}

TEST(Drawing, DrawCopyIsOwnedByThePad) {
  TCanvas c("gc5", "", 800, 600);
  TH1F h("h5", "", 10, 0, 10);
  h.SetMinimum(1e-4);
  TH1* copy = h.DrawCopy("");
  EXPECT_NE(copy, &h);
  EXPECT_TRUE(copy->TestBit(TObject::kCanDelete));
  EXPECT_EQ(copy->GetMinimumStored(), 1e-4);
  EXPECT_EQ(copy->GetDirectory(), nullptr);
  EXPECT_EQ(c.GetListOfPrimitives()->First(), copy);
  c.Clear();
  EXPECT_EQ(c.GetListOfPrimitives()->GetSize(), 0);
}

TEST(Drawing, DeletedObjectLeavesThePad) {
  TCanvas c("gc6", "", 800, 600);
  auto* h = new TH1F("h6", "", 10, 0, 10);
  h->Draw();
  delete h;
  EXPECT_EQ(c.GetListOfPrimitives()->GetSize(), 0);
}

TEST(Drawing, DrawingWithoutPadMakesDefaultCanvas) {
  while (TObject* c = gROOT->GetListOfCanvases()->First()) delete c;
  gPad = nullptr;
  TH1F h("h7", "", 2, 0, 2);
  h.Draw();
  ASSERT_NE(gPad, nullptr);
  EXPECT_STREQ(gPad->GetName(), "c1");
  delete gROOT->GetListOfCanvases()->FindObject("c1");
}

TEST(Drawing, GraphOptionIsStoredLowerCaseWithoutSame) {
  TCanvas c("gc8", "", 800, 600);
  TGraphAsymmErrors g;
  g.SetName("g8");
  g.Draw("P same");
  EXPECT_STREQ(OptionOf(c.GetListOfPrimitives(), &g), "p ");
}

TEST(Text, DrawLatexMakesAnOwnedCopyWithTheSameAttributes) {
  TCanvas c("gc9", "", 800, 600);
  TLatex lt;
  lt.SetNDC();
  lt.SetTextAlign(22);
  lt.SetTextColor(4);
  TLatex* t = lt.DrawLatex(0.5, 0.96, "Col");
  EXPECT_STREQ(t->GetTitle(), "Col");
  EXPECT_TRUE(t->TestBit(TText::kTextNDC));
  EXPECT_TRUE(t->TestBit(TObject::kCanDelete));
  EXPECT_EQ(t->GetTextAlign(), 22);
  EXPECT_EQ(t->GetTextColor(), 4);
  EXPECT_EQ(c.GetListOfPrimitives()->Last(), t);
}

TEST(Text, DefaultsFromStyleAndSetText) {
  TLatex t(0.8, 0.85, "chip 0 = 0.00");
  EXPECT_EQ(t.GetTextFont(), gStyle->GetTextFont());
  EXPECT_FLOAT_EQ(t.GetTextSize(), gStyle->GetTextSize());
  EXPECT_EQ(t.GetTextAlign(), 11);
  t.SetText(0.75, 0.88, "chip 0 = 1.25");
  EXPECT_EQ(t.GetX(), 0.75);
  EXPECT_STREQ(t.GetTitle(), "chip 0 = 1.25");
}

TEST(Graph, PointsGrowAndErrorsFollow) {
  TGraphAsymmErrors g;
  EXPECT_EQ(g.GetN(), 0);
  g.SetPointError(0, 1, 2, 3, 4);
  EXPECT_EQ(g.GetN(), 1);
  g.SetPoint(2, 5, 6);
  EXPECT_EQ(g.GetN(), 3);
  double x, y;
  EXPECT_EQ(g.GetPoint(2, x, y), 2);
  EXPECT_EQ(x, 5);
  EXPECT_EQ(g.GetPoint(3, x, y), -1);
  EXPECT_EQ(g.GetErrorXhigh(0), 2);
  EXPECT_EQ(g.GetErrorYlow(2), 0);
  g.Set(1);
  EXPECT_EQ(g.GetN(), 1);
  EXPECT_EQ(g.GetErrorYhigh(0), 4);
}

}  // namespace
