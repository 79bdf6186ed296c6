// Writes ROOT JSON samples for the JSROOT rendering test: one file per class
// and a canvas of several pads, into the directory given as argument.
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>

#include "RootJSON.h"
#include "TCanvas.h"
#include "TF1.h"
#include "TGraphAsymmErrors.h"
#include "TH1D.h"
#include "TH1F.h"
#include "TH2F.h"
#include "TLatex.h"
#include "TList.h"
#include "TPad.h"
#include "TStyle.h"

namespace {

bool WriteText(const std::string& dir, const char* name, const std::string& json) {
  const std::string path = dir + "/" + name + ".json";
  std::ofstream out(path, std::ios::binary);
  out << json;
  if (out) return true;
  std::fprintf(stderr, "rootcompat-json-sample: cannot write %s\n", path.c_str());
  return false;
}

bool Write(const std::string& dir, const char* name, const TObject& obj) {
  return WriteText(dir, name, rootcompat::ToJSON(obj));
}

void FillSamples(TH1F& rate, TH2F& map, TGraphAsymmErrors& graph) {
  for (int i = 0; i < 4; ++i) {
    rate.SetBinContent(i + 1, 10.0 * (i + 1));
    rate.SetBinError(i + 1, std::sqrt(10.0 * (i + 1)));
  }
  for (int x = 0; x < 64; ++x)
    for (int y = 0; y < 32; ++y) {
      const double r2 = (x - 30) * (x - 30) / 100.0 + (y - 15) * (y - 15) / 40.0;
      if (r2 < 4) map.SetBinContent(x + 1, y + 1, std::exp(-r2) * 0.5);
    }
  graph.SetPoint(0, 0.4, 0.5);
  graph.SetPointError(0, 0.1, 0.1, 0.05, 0.05);
  graph.SetMarkerStyle(20);
  graph.SetMarkerColor(4);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: rootcompat-json-sample OUTPUT_DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  gStyle->SetOptStat(0);

  TH1F rate("hhitrate_sample", ";chip index;N pixels", 4, -0.5, 3.5);
  rate.SetLineColor(600);
  rate.SetLineWidth(2);
  TH2F map("h2d_sample", ";col;row;hits", 64, -0.5, 63.5, 32, -0.5, 31.5);
  TGraphAsymmErrors graph;
  graph.SetName("gmpos_sample");
  FillSamples(rate, map, graph);
  TH1D projection("hproj_sample", "projection", 8, 0, 8);
  projection.Fill(3.5, 2);
  TF1 gaus("fsample", "gaus", 0, 8);
  gaus.SetParameters(2, 3.5, 1);
  TH2F dense("h2d_dense_sample", ";col;row;hits", 100, -0.5, 99.5, 50, -0.5, 49.5);
  for (int x = 1; x <= 100; ++x)
    for (int y = 1; y <= 50; ++y) dense.SetBinContent(x, y, (x * 7 + y * 13) % 50 / 1000.0 + 0.001);
  // Hits of 18 x 4 pixel blocks in a window, as the page's recent maps travel.
  TH2F counts("h2d_counts_sample", ";col;row", 64, -0.5, 1151.5, 32, -0.5, 127.5);
  for (int x = 1; x <= 64; ++x)
    for (int y = 1; y <= 32; ++y) counts.SetBinContent(x, y, (x * 7 + y * 13) % 300 + 1);
  TLatex label(0.5, 0.95, "Run 42, Number of Events: 1000");
  label.SetNDC();
  label.SetTextAlign(22);

  bool ok = Write(dir, "TH1F", rate) && Write(dir, "TH2F", map) && Write(dir, "TH2F_dense", dense) &&
            WriteText(dir, "TH2F_counts", rootcompat::CountsToJSON(counts)) && Write(dir, "TH1D", projection) &&
            Write(dir, "TGraphAsymmErrors", graph) && Write(dir, "TF1", gaus) && Write(dir, "TLatex", label);

  TCanvas canvas("com_sample", "KIVO online monitoring", 1600, 800);
  canvas.SetMargin(0, 0, 0, 0);
  TPad left("prate_sample", "prate_sample", 0.0, 0.0, 0.5, 0.9);
  left.SetMargin(0.15f, 0.05f, 0.12f, 0.08f);
  left.SetTicks(1, 1);
  left.Draw("");
  canvas.cd(0);
  TPad right("pmap_sample", "pmap_sample", 0.5, 0.0, 1.0, 0.9);
  right.SetMargin(0.15f, 0.15f, 0.15f, 0.15f);
  right.Draw("");
  canvas.cd(0);
  label.Draw("");

  left.cd();
  gPad->SetLogy();
  TH1F frame("haxis_sample", ";chip index; N pixels / event", 4, -0.5, 3.5);
  frame.GetYaxis()->SetRangeUser(1, 100);
  frame.Draw("");
  rate.Draw("hist e same");
  TLatex title;
  title.SetNDC();
  title.SetTextAlign(22);
  title.DrawLatex(0.5, 0.96, "Rates");

  right.cd();
  gPad->SetLogz();
  map.Draw("colz same");
  map.GetZaxis()->SetRangeUser(1e-3, 1);
  graph.Draw("P");
  title.SetTextColor(632);
  title.DrawLatex(0.5, 0.96, "Chip 0");

  TList all;
  all.Add(&rate);
  all.Add(&map);
  all.Add(&graph);
  ok = ok && Write(dir, "TCanvas", canvas) && Write(dir, "TList", all);
  return ok ? 0 : 1;
}
