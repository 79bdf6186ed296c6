// Writes a ROOT file that passes 2 GB, for the test of its 64-bit form
// (web/test/rootfile.test.mjs): uncompressed filler histograms up to past
// 2^31 bytes, then a histogram and a graph whose keys lie beyond, with
// contents the test knows.
#include <cstdio>

#include "TFile.h"
#include "TGraphAsymmErrors.h"
#include "TH1F.h"

namespace {

constexpr int kFillerBins = 25000000;  // 100 MB a key
constexpr int kFillers = 22;           // 2.2 GB

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: rootcompat-big-file-sample FILE\n");
    return 2;
  }
  TH1::AddDirectory(kFALSE);
  TFile file(argv[1], "RECREATE", "", 0);
  if (file.IsZombie()) return 1;
  TH1F filler("filler", "filler", kFillerBins, 0, 1);
  filler.Fill(0.5);
  for (int i = 0; i < kFillers; ++i) {
    const std::string name = "filler_" + std::to_string(i);
    if (filler.Write(name.c_str()) == 0) return 1;
  }
  TH1F after("after", "written past 2 GB;x;entries", 10, 0, 10);
  for (int bin = 1; bin <= 10; ++bin) after.SetBinContent(bin, bin * bin);
  TGraphAsymmErrors graph(3);
  graph.SetName("graph_after");
  for (int i = 0; i < 3; ++i) {
    graph.SetPoint(i, i, 10 * i);
    graph.SetPointError(i, 0.1, 0.2, 1, 2);
  }
  file.SetCompressionSettings(101);
  if (after.Write() == 0 || graph.Write() == 0) return 1;
  file.Close();
  std::printf("%lld\n", file.GetEND());
  return 0;
}
