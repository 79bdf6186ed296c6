// ROOT JSON spot checks: structure, compressed arrays, bits, publisher.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "CanvasPublisher.h"
#include "RootJSON.h"
#include "RootJSONEncoder.h"
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

// Decodes the JSROOT compressed array that starts at text[pos] ('{').
std::vector<double> DecodeArr(const std::string& text, size_t pos) {
  const size_t end = text.find('}', pos);
  const std::string obj = text.substr(pos, end - pos);
  const size_t lenAt = obj.find("\"len\":");
  std::vector<double> out(std::strtoul(obj.c_str() + lenAt + 6, nullptr, 10), 0.0);
  size_t write = 0;
  double lastValue = 0;
  bool haveNumber = false;
  for (size_t k = obj.find('"', lenAt + 6); k != std::string::npos; k = obj.find('"', k)) {
    const char letter = obj[k + 1];
    const size_t colon = obj.find(':', k);
    const char* value = obj.c_str() + colon + 1;
    if (letter == 'p') {
      write = std::strtoul(value, nullptr, 10);
    } else if (letter == 'v' && *value == '[') {
      char* cur = const_cast<char*>(value + 1);
      while (*cur != ']') {
        out.at(write++) = std::strtod(cur, &cur);
        if (*cur == ',') ++cur;
      }
      haveNumber = false;
    } else if (letter == 'v') {
      lastValue = std::strtod(value, nullptr);
      out.at(write++) = lastValue;
      haveNumber = true;
    } else if (letter == 'n' && haveNumber) {
      for (unsigned long i = 1; i < std::strtoul(value, nullptr, 10); ++i) out.at(write++) = lastValue;
    }
    k = colon + 1;
  }
  return out;
}

std::vector<double> DecodeMember(const std::string& json, const std::string& member) {
  const size_t at = json.find("\"" + member + "\":{\"$arr\"");
  EXPECT_NE(at, std::string::npos) << member;
  return DecodeArr(json, json.find('{', at));
}

TEST(Json, HistogramCarriesTypeAxesAndCompressedContents) {
  TH1F h("jh1", "Example;x;entries", 10, 0, 10);
  const float values[] = {0, 0, 1, 3, 5, 4, 4, 4, 0, 3, 0, 0};
  for (int bin = 0; bin < 12; ++bin) h.SetBinContent(bin, values[bin]);
  const std::string json = rootcompat::ToJSON(h);
  EXPECT_EQ(json.rfind("{\"_typename\":\"TH1F\"", 0), 0u);
  EXPECT_NE(json.find("\"fName\":\"jh1\",\"fTitle\":\"Example\""), std::string::npos);
  EXPECT_NE(json.find("\"fName\":\"xaxis\",\"fTitle\":\"x\""), std::string::npos);
  EXPECT_NE(json.find("\"fNbins\":10,\"fXmin\":0,\"fXmax\":10,\"fXbins\":[]"), std::string::npos);
  EXPECT_NE(json.find("\"fMaximum\":-1111,\"fMinimum\":-1111"), std::string::npos);
  EXPECT_NE(json.find("\"fArray\":{\"$arr\":\"Float32\",\"len\":12"), std::string::npos);
  EXPECT_NE(json.find("\"fFunctions\":{\"_typename\":\"TList\",\"name\":\"TList\",\"arr\":[],\"opt\":[]}"),
            std::string::npos);
  const std::vector<double> decoded = DecodeMember(json, "fArray");
  ASSERT_EQ(decoded.size(), 12u);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(decoded[i], values[i]) << "cell " << i;
}

TEST(Json, SparseMapStaysSmallAndRoundTrips) {
  TH2F m("jmap", ";col;row;hits", 9216, -0.5, 9215.5, 512, -0.5, 511.5);
  m.Fill(0, 0);
  m.Fill(100, 200, 0.125);
  for (int x = 3000; x < 3100; ++x) m.Fill(x, 300);
  const std::string json = rootcompat::ToJSON(m);
  EXPECT_LT(json.size(), 6000u);
  const std::vector<double> decoded = DecodeMember(json, "fArray");
  ASSERT_EQ(decoded.size(), size_t(m.GetNcells()));
  for (int bin : {m.GetBin(1, 1), m.GetBin(101, 201), m.GetBin(3001, 301), m.GetBin(3100, 301), 0})
    EXPECT_EQ(decoded[bin], m.GetArray()[bin]) << "bin " << bin;
  double sum = 0;
  for (double v : decoded) sum += v;
  EXPECT_DOUBLE_EQ(sum, 101.125);
  EXPECT_NE(json.find("\"fSumw2\":{\"$arr\":\"Float64\""), std::string::npos);
}

TEST(Json, NumbersUseShortestRoundTripForm) {
  TH1D h("jnum", "", 6, 0, 6);
  h.SetBinContent(1, 0.1);
  h.SetBinContent(2, 1.0 / 3);
  h.SetBinContent(3, 1e-7);
  const std::vector<double> decoded = DecodeMember(rootcompat::ToJSON(h), "fArray");
  EXPECT_EQ(decoded[1], 0.1);
  EXPECT_EQ(decoded[2], 1.0 / 3);
  EXPECT_EQ(decoded[3], 1e-7);
}

TEST(Json, OptStatZeroSetsNoStatsBit) {
  TH1F h("jstat", "", 2, 0, 2);
  gStyle->SetOptStat(1);
  EXPECT_NE(rootcompat::ToJSON(h).find("\"fBits\":0,"), std::string::npos);
  gStyle->SetOptStat(0);
  EXPECT_NE(rootcompat::ToJSON(h).find("\"fBits\":512,"), std::string::npos);
  gStyle->SetOptStat(1);
}

TEST(Json, StringsAreEscaped) {
  TLatex t(0.5, 0.5, "a \"quoted\" \\ text\n");
  EXPECT_NE(rootcompat::ToJSON(t).find("\"fTitle\":\"a \\\"quoted\\\" \\\\ text\\u000a\""), std::string::npos);
}

// The encoder on its own: what is written is appended after what the output
// held, once the encoder is done; float members keep their float spelling.
TEST(Json, EncoderAppendsWhatItWroteWhenDone) {
  std::string out = "[";
  {
    rootcompat::JSONEncoder json(out);
    json.Begin("T");
    json.Num("f", 0.1f);
    json.Num("d", 0.1);
    json.Int("i", -3);
    json.Key("a");
    const float small[] = {1, 0, 2};
    json.CompressedArray(small, 3);
    json.End();
    EXPECT_EQ(out, "[") << "nothing appears before the encoder is done";
  }
  EXPECT_EQ(out, "[{\"_typename\":\"T\",\"f\":0.1,\"d\":0.1,\"i\":-3,\"a\":[1,0,2]}");
}

TEST(Json, ListKeepsObjectsAndOptionsInOrder) {
  TList list;
  TLatex a(0.1, 0.2, "first");
  TLatex b(0.3, 0.4, "second");
  list.Add(&a, "same");
  list.Add(&b);
  const std::string json = rootcompat::ToJSON(list);
  EXPECT_EQ(json.rfind("{\"_typename\":\"TList\",\"name\":\"TList\",\"arr\":[{\"_typename\":\"TLatex\"", 0), 0u);
  EXPECT_LT(json.find("first"), json.find("second"));
  EXPECT_NE(json.find("\"opt\":[\"same\",\"\"]}"), std::string::npos);
}

TEST(Json, CanvasHoldsPadsWithAbsolutePositionsAndNdcText) {
  TCanvas c("jc", "KIVO online monitoring", 1600, 800);
  TPad p("jp", "jp", 0.5, 0.68, 1.0, 0.9);
  p.SetLogz();
  p.Draw();
  p.cd();
  TLatex t(0.5, 0.96, "Chip 0");
  t.SetNDC();
  t.Draw();
  const std::string json = rootcompat::ToJSON(c);
  EXPECT_EQ(json.rfind("{\"_typename\":\"TCanvas\"", 0), 0u);
  EXPECT_NE(json.find("\"fCw\":1600,\"fCh\":800"), std::string::npos);
  EXPECT_NE(json.find("\"_typename\":\"TPad\""), std::string::npos);
  EXPECT_NE(json.find("\"fAbsXlowNDC\":0.5,\"fAbsYlowNDC\":0.68"), std::string::npos);
  EXPECT_NE(json.find("\"fLogz\":1"), std::string::npos);
  EXPECT_NE(json.find("\"fBits\":16392"), std::string::npos) << "kTextNDC | kMustCleanup";
  EXPECT_NE(json.find("\"fName\":\"jp\",\"fTitle\":\"jp\"}"), std::string::npos);
}

TEST(Publisher, UpdateHandsTheCanvasToTheInstalledCallback) {
  TCanvas c("jpub", "", 400, 300);
  int calls = 0;
  std::string received;
  rootcompat::SetCanvasPublisher([&](const TCanvas& canvas) {
    EXPECT_EQ(&canvas, &c);
    received = rootcompat::ToJSON(canvas);
    ++calls;
  });
  c.Update();
  TPad p("jpub_pad", "", 0, 0, 1, 1);
  p.Draw();
  p.Update();
  EXPECT_EQ(calls, 2) << "a pad update repaints its canvas";
  EXPECT_EQ(received, rootcompat::ToJSON(c));
  rootcompat::SetCanvasPublisher(nullptr);
  c.Update();
  EXPECT_EQ(calls, 2);
}

}  // namespace

namespace {

TEST(JsonArrays, RunsOfEqualValuesBecomeValueAndCount) {
  TH1D h("jruns", "", 20, 0, 20);
  for (int bin = 3; bin <= 12; ++bin) h.SetBinContent(bin, 2.5);
  h.SetBinContent(15, -0.0);
  const std::string json = rootcompat::ToJSON(h);
  EXPECT_NE(json.find("\"p\":3,\"v\":2.5,\"n\":10"), std::string::npos) << json;
  const std::vector<double> decoded = DecodeMember(json, "fArray");
  for (int bin = 0; bin < 22; ++bin) EXPECT_EQ(decoded[bin], h.GetBinContent(bin)) << bin;
}

TEST(JsonArrays, ShortArraysArePlainAndNonFiniteValuesStayValidJson) {
  TGraphAsymmErrors g;
  g.SetPoint(0, std::nan(""), 1);
  g.SetPoint(1, HUGE_VAL, -HUGE_VAL);
  const std::string json = rootcompat::ToJSON(g);
  EXPECT_NE(json.find("\"fX\":[0,1e+308]"), std::string::npos) << json;
  EXPECT_NE(json.find("\"fY\":[1,-1e+308]"), std::string::npos);
  EXPECT_NE(json.find("\"fEXlow\":[0,0]"), std::string::npos);
}

TEST(JsonArrays, LongGapsAndManySegmentsRoundTrip) {
  TH1F h("jgaps", "", 5000, 0, 5000);
  for (int bin = 1; bin <= 5000; bin += 7 + bin % 41) h.SetBinContent(bin, bin % 13 + 0.5);
  const std::string json = rootcompat::ToJSON(h);
  const std::vector<double> decoded = DecodeMember(json, "fArray");
  for (int bin = 0; bin < 5002; ++bin) ASSERT_EQ(decoded[bin], h.GetBinContent(bin)) << bin;
}

// Decodes standard base64.
std::string FromBase64(const std::string& text) {
  static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  unsigned bits = 0;
  int count = 0;
  for (char c : text) {
    if (c == '=') break;
    bits = bits << 6 | unsigned(alphabet.find(c));
    count += 6;
    if (count >= 8) {
      count -= 8;
      out.push_back(char((bits >> count) & 0xff));
    }
  }
  return out;
}

TEST(JsonArrays, DenseArraysAreBase64OfTheirBytes) {
  for (int nbins : {4999, 5000, 5001}) {  // byte counts 0, 1 and 2 modulo 3
    TH1F h("jdense", "", nbins, 0, nbins);
    for (int bin = 1; bin <= nbins; ++bin) h.SetBinContent(bin, bin * 0.25f);
    const std::string json = rootcompat::ToJSON(h);
    const std::string key =
        "\"fArray\":{\"$arr\":\"Float32\",\"len\":" + std::to_string(nbins + 2) + ",\"b\":\"";
    const size_t at = json.find(key);
    ASSERT_NE(at, std::string::npos) << nbins;
    const size_t start = at + key.size();
    const std::string bytes = FromBase64(json.substr(start, json.find('"', start) - start));
    ASSERT_EQ(bytes.size(), (nbins + 2) * sizeof(float)) << nbins;
    EXPECT_EQ(std::memcmp(bytes.data(), h.GetArray(), bytes.size()), 0) << nbins;
  }
}

// The cells of a whole-count "$arr" of `width` bytes per element: base64 of
// little-endian integers, or value segments.
std::vector<double> DecodeCounts(const std::string& json, size_t at, int width) {
  const size_t b = json.find("\"b\":\"", at);
  if (b == std::string::npos || b > json.find('}', at)) return DecodeArr(json, at);
  const size_t start = b + 5;
  const std::string bytes = FromBase64(json.substr(start, json.find('"', start) - start));
  std::vector<double> cells(bytes.size() / size_t(width));
  for (size_t i = 0; i < cells.size(); ++i) {
    std::uint64_t v = 0;
    for (int k = width - 1; k >= 0; --k) v = v << 8 | static_cast<unsigned char>(bytes[i * width + k]);
    cells[i] = double(v);
  }
  return cells;
}

// Whole counts travel as the narrowest unsigned type holding the largest, at
// each type's limit and one past it, dense and sparse: sparse ones in
// segments, dense ones in base64 unless their digits are shorter (counts
// under 250 against four bytes each).
TEST(JsonCounts, NarrowestUnsignedTypeHoldsEveryCell) {
  struct Case {
    double largest;
    const char* type;
    int width;
  };
  const Case cases[] = {{255, "Uint8", 1},       {256, "Uint16", 2},        {65535, "Uint16", 2},
                        {65536, "Uint32", 4},    {2147483648.0, "Uint32", 4}, {4294967040.0, "Uint32", 4}};
  const auto base64_expected = [](const Case& c, bool dense) { return dense && c.width < 4; };
  for (const Case& c : cases)
    for (const bool dense : {true, false}) {
      TH2F h("jcounts", "", 100, 0, 100, 50, 0, 50);
      float* cells = h.GetArray();
      for (int i = 0; i < h.GetNcells(); ++i)
        if (dense || i % 97 == 0) cells[i] = float((i * 37) % 250 + (dense ? 0 : 1));
      for (int i = 2000; i < 2010; ++i) cells[i] = 3;  // a run of equal values
      cells[h.GetBin(50, 25)] = float(c.largest);
      const std::string json = rootcompat::CountsToJSON(h);
      const std::string what = std::string(c.type) + (dense ? " dense" : " sparse");
      const std::string key = std::string("\"fArray\":{\"$arr\":\"") + c.type + "\",\"len\":5304,";
      const size_t at = json.find(key);
      ASSERT_NE(at, std::string::npos) << what;
      EXPECT_EQ(json.compare(at + key.size(), 5, "\"b\":\"") == 0, base64_expected(c, dense)) << what;
      EXPECT_EQ(json.substr(0, at), rootcompat::ToJSON(h).substr(0, at)) << "the members before the cells, " << what;
      const std::vector<double> decoded = DecodeCounts(json, at + key.find('{'), c.width);
      ASSERT_EQ(decoded.size(), 5304u) << what;
      for (int i = 0; i < 5304; ++i) ASSERT_EQ(decoded[i], double(cells[i])) << what << ", cell " << i;
    }
}

// A dense map of small counts with a few large ones, as a recent map of a
// noisy run: its digits are shorter than the base64 of its Uint16 cells.
TEST(JsonCounts, SmallCountsWithAFewLargeOnesTravelAsDigits) {
  TH2F h("jnoisy", "", 100, 0, 100, 50, 0, 50);
  float* cells = h.GetArray();
  for (int i = 0; i < h.GetNcells(); ++i) cells[i] = float(i % 7);
  cells[h.GetBin(50, 25)] = 914;
  const std::string json = rootcompat::CountsToJSON(h);
  const std::string key = "\"fArray\":{\"$arr\":\"Uint16\",\"len\":5304,";
  const size_t at = json.find(key);
  ASSERT_NE(at, std::string::npos);
  EXPECT_NE(json.compare(at + key.size(), 5, "\"b\":\""), 0);
  const std::vector<double> decoded = DecodeCounts(json, at + key.find('{'), 2);
  ASSERT_EQ(decoded.size(), 5304u);
  for (int i = 0; i < 5304; ++i) ASSERT_EQ(decoded[i], double(cells[i])) << "cell " << i;
}

// A cell that is no whole count from 0 to 2^32 - 1 keeps the floats ToJSON
// writes; -0 counts as 0.
TEST(JsonCounts, CellsThatAreNoCountsStayFloats) {
  for (const float odd : {0.5f, -1.0f, std::nanf(""), 4294967296.0f, HUGE_VALF}) {
    TH1F h("jodd", "", 100, 0, 100);
    for (int bin = 1; bin <= 100; ++bin) h.SetBinContent(bin, bin);
    h.SetBinContent(40, odd);
    EXPECT_EQ(rootcompat::CountsToJSON(h), rootcompat::ToJSON(h)) << odd;
  }
  TH1F zero("jzero", "", 100, 0, 100);
  for (int bin = 1; bin <= 100; ++bin) zero.SetBinContent(bin, bin % 2 ? -0.0f : 2.0f);
  const std::string json = rootcompat::CountsToJSON(zero);
  const size_t at = json.find("\"fArray\":{\"$arr\":\"Uint8\"");
  ASSERT_NE(at, std::string::npos) << json;
  const std::vector<double> decoded = DecodeCounts(json, json.find('{', at), 1);
  for (int bin = 0; bin < 102; ++bin) EXPECT_EQ(decoded.at(bin), bin >= 1 && bin <= 100 && bin % 2 == 0 ? 2 : 0);
}

TEST(JsonClasses, FunctionAndGraphMembers) {
  TF1 f("jf", "gaus", -1, 1);
  f.SetParameters(3, 0.5, 0.25);
  const std::string fjson = rootcompat::ToJSON(f);
  EXPECT_NE(fjson.find("\"fName\":\"jf\",\"fTitle\":\"gaus\""), std::string::npos);
  EXPECT_NE(fjson.find("\"fParameters\":[3,0.5,0.25],\"fParNames\":[\"Constant\",\"Mean\",\"Sigma\"]"),
            std::string::npos);
  EXPECT_NE(fjson.find("\"fSave\":[]"), std::string::npos);
  TGraphAsymmErrors g;
  g.SetName("jg");
  g.SetPoint(0, 1, 2);
  g.SetPointError(0, 0.5, 0.5, 0.25, 0.75);
  const std::string gjson = rootcompat::ToJSON(g);
  EXPECT_NE(gjson.find("\"fNpoints\":1,\"fX\":[1],\"fY\":[2]"), std::string::npos);
  EXPECT_NE(gjson.find("\"fEYlow\":[0.25],\"fEYhigh\":[0.75]"), std::string::npos);
  EXPECT_NE(gjson.find("\"fMinimum\":-1111,\"fMaximum\":-1111"), std::string::npos);
}

TEST(JsonPads, SameIsDroppedOnlyForThePadsFirstHistogram) {
  TCanvas c("jsame", "", 400, 300);
  TH1F frame("jsame_frame", "", 2, 0, 2);
  TH1F h("jsame_h", "", 2, 0, 2);
  TH2F map("jsame_map", "", 2, 0, 2, 2, 0, 2);
  TPad p1("jsame_p1", "", 0, 0, 0.5, 1);
  p1.Draw();
  TPad p2("jsame_p2", "", 0.5, 0, 1, 1);
  p2.Draw();
  p1.cd();
  frame.Draw("");
  h.Draw("hist e same");
  p2.cd();
  map.Draw("colz same");
  const std::string json = rootcompat::ToJSON(c);
  EXPECT_NE(json.find("\"opt\":[\"\",\"hist e same\"]"), std::string::npos);
  EXPECT_NE(json.find("\"opt\":[\"colz \"]"), std::string::npos);
}

}  // namespace
