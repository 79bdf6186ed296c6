// Copies of a canvas for writing on another thread, and the writer's
// placeholders for the primitives of pads.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "CanvasCopy.h"
#include "RootJSON.h"
#include "TCanvas.h"
#include "TGraphAsymmErrors.h"
#include "TH1F.h"
#include "TH2F.h"
#include "TLatex.h"
#include "TList.h"
#include "TPad.h"

namespace {

std::unique_ptr<TObject> clone(const TObject& primitive, const TPad&) {
  return std::unique_ptr<TObject>(primitive.Clone());
}

// A canvas like the monitor's: pads with margins and log scales, a frame
// drawn as a copy, histograms "same", a graph, labels, a 2D map.
struct SampleCanvas {
  TCanvas canvas{"copy_canvas", "KIVO online monitoring", 1600, 800};
  TH1F frame{"copy_frame", ";x;y", 4, 0, 4};
  TH1F rates{"copy_rates", "", 4, 0, 4};
  TH2F map{"copy_map", "", 90, 0, 90, 40, 0, 40};
  TGraphAsymmErrors graph{1};
  TLatex label{0.5, 0.95, "Run 1, Number of Events: 10"};
  TPad* left = nullptr;
  TPad* right = nullptr;

  SampleCanvas() {
    canvas.SetMargin(0, 0, 0, 0);
    left = new TPad("copy_left", "left", 0, 0, 0.5, 0.9);
    left->SetMargin(0.15, 0.05, 0.15, 0.05);
    left->SetLogy(1);
    left->Draw("");
    canvas.cd(0);
    right = new TPad("copy_right", "right", 0.5, 0, 1, 0.9);
    right->SetLogz(1);
    right->Draw("");
    canvas.cd(0);
    label.SetNDC();
    label.Draw("");
    left->cd();
    frame.GetYaxis()->SetRangeUser(1e-5, 100);
    frame.DrawCopy("");
    rates.SetBinContent(2, 3.5);
    rates.Draw("hist e same");
    graph.SetPoint(0, 1, 2);
    graph.Draw("P");
    right->cd();
    map.SetBinContent(5, 6, 0.25);
    map.Draw("colz same");
    map.GetZaxis()->SetRangeUser(1e-6, 1);
  }
  ~SampleCanvas() {
    delete right;
    delete left;
  }
};

TEST(CanvasCopy, WritesAsItsOriginalAndKeepsThatWhileTheOriginalChanges) {
  SampleCanvas sample;
  const std::string original = rootcompat::ToJSON(sample.canvas);
  {
    rootcompat::CanvasCopy copy(sample.canvas, clone);
    EXPECT_EQ(rootcompat::ToJSON(copy.GetCanvas()), original);
    sample.rates.SetBinContent(3, 7);
    sample.label.SetText(0.5, 0.95, "Run 1, Number of Events: 20");
    sample.map.SetBinContent(7, 8, 0.5);
    sample.left->SetLogy(0);
    EXPECT_EQ(rootcompat::ToJSON(copy.GetCanvas()), original);
    EXPECT_NE(rootcompat::ToJSON(sample.canvas), original);
  }
  // Freeing the copy leaves the original and its pads whole.
  EXPECT_EQ(sample.left->GetListOfPrimitives()->GetSize(), 3);
  EXPECT_EQ(sample.canvas.GetListOfPrimitives()->GetSize(), 3);
  EXPECT_EQ(sample.rates.GetBinContent(3), 7);
}

TEST(CanvasCopy, TheCopierReplacesOrLeavesOutEachPrimitive) {
  SampleCanvas sample;
  TH2F* small = nullptr;
  rootcompat::CanvasCopy copy(sample.canvas, [&](const TObject& primitive, const TPad& pad) -> std::unique_ptr<TObject> {
    if (&primitive == &sample.label) return nullptr;
    if (&primitive != &sample.map) return clone(primitive, pad);
    EXPECT_EQ(&pad, sample.right);
    auto replacement = std::make_unique<TH2F>();
    replacement->SetName("copy_small");
    small = replacement.get();
    return replacement;
  });
  ASSERT_NE(small, nullptr);
  const TList* right = dynamic_cast<const TPad*>(copy.GetCanvas().GetListOfPrimitives()->At(1))->GetListOfPrimitives();
  EXPECT_EQ(right->At(0), small);
  EXPECT_TRUE(small->TestBit(TObject::kMustCleanup)) << "carries the drawn original's bits";
  const std::string json = rootcompat::ToJSON(copy.GetCanvas());
  EXPECT_EQ(json.find("Number of Events"), std::string::npos);
  EXPECT_NE(json.find("\"fName\":\"copy_small\""), std::string::npos);
  EXPECT_NE(json.find("\"opt\":[\"colz \"]"), std::string::npos) << "draw options stay";
  EXPECT_EQ(copy.GetCanvas().GetListOfPrimitives()->GetSize(), 2);
}

TEST(CanvasCopy, PlaceholdersStandForThePrimitivesOfPads) {
  SampleCanvas sample;
  std::string json;
  rootcompat::AppendJSON(json, sample.canvas, [](const TPad& pad, int index, const TObject& primitive) {
    return std::string("{\"ref\":\"") + pad.GetName() + "/" + std::to_string(index) + "/" + primitive.GetName() + "\"}";
  });
  EXPECT_NE(json.find(R"("arr":[{"ref":"copy_left/0/copy_frame"},{"ref":"copy_left/1/copy_rates"},)"),
            std::string::npos);
  EXPECT_NE(json.find(R"({"ref":"copy_right/0/copy_map"}],"opt":["colz "])"), std::string::npos)
      << "options are adjusted as for the objects themselves";
  EXPECT_NE(json.find(R"({"ref":"copy_canvas/2/)"), std::string::npos) << "the canvas's own label";
  EXPECT_NE(json.find(R"("fName":"copy_left")"), std::string::npos) << "pads are written whole";
  EXPECT_EQ(json.find("\"fArray\""), std::string::npos);
}

}  // namespace
