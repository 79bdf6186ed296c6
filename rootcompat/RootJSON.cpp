// ROOT JSON schema: each class of this library written member by member in
// the order of ROOT's streamers, with the values ROOT gives the members this
// library does not model. The bytes are written by JSONEncoder.
#include "RootJSON.h"

#include <cctype>
#include <cstddef>
#include <string>

#include "RootJSONEncoder.h"
#include "TCanvas.h"
#include "TF1.h"
#include "TGraphAsymmErrors.h"
#include "TH2.h"
#include "TLatex.h"
#include "TList.h"
#include "TStyle.h"

namespace rootcompat {

class JSONWriter {
 public:
  explicit JSONWriter(std::string& out, const PrimitiveText* instead = nullptr, bool countCells = false)
      : fJSON(out), fInstead(instead), fCountCells(countCells) {}

  void Object(const TObject& obj) {
    if (auto* c = dynamic_cast<const TCanvas*>(&obj)) return Canvas(*c);
    if (auto* p = dynamic_cast<const TPad*>(&obj)) return Pad(*p, "TPad");
    if (auto* h = dynamic_cast<const TH1*>(&obj)) return Histogram(*h);
    if (auto* g = dynamic_cast<const TGraph*>(&obj)) return Graph(*g);
    if (auto* f = dynamic_cast<const TF1*>(&obj)) return Function(*f);
    if (auto* t = dynamic_cast<const TText*>(&obj)) return Text(*t);
    if (auto* l = dynamic_cast<const TList*>(&obj)) return List(*l);
    if (auto* a = dynamic_cast<const TAxis*>(&obj)) return Axis(*a);
    fJSON.Begin(obj.ClassName());
    ObjectMembers(obj, ObjectBits(obj));
    if (auto* n = dynamic_cast<const TNamed*>(&obj)) NamedMembers(*n);
    fJSON.End();
  }

 private:
  // ROOT's base classes, member by member in streamer order.
  static UInt_t ObjectBits(const TObject& obj) {
    UInt_t bits = 0;
    for (int b = 0; b < 32; ++b)
      if (obj.TestBit(UInt_t(1) << b)) bits |= UInt_t(1) << b;
    return bits;
  }
  void ObjectMembers(const TObject& obj, UInt_t bits) {
    fJSON.Int("fUniqueID", obj.GetUniqueID());
    fJSON.Int("fBits", bits);
  }
  void NamedMembers(const TNamed& n) {
    fJSON.Str("fName", n.GetName());
    fJSON.Str("fTitle", n.GetTitle());
  }
  void LineMembers(const TAttLine& a) {
    fJSON.Int("fLineColor", a.GetLineColor());
    fJSON.Int("fLineStyle", a.GetLineStyle());
    fJSON.Int("fLineWidth", a.GetLineWidth());
  }
  void FillMembers(const TAttFill& a) {
    fJSON.Int("fFillColor", a.GetFillColor());
    fJSON.Int("fFillStyle", a.GetFillStyle());
  }
  void MarkerMembers(const TAttMarker& a) {
    fJSON.Int("fMarkerColor", a.GetMarkerColor());
    fJSON.Int("fMarkerStyle", a.GetMarkerStyle());
    fJSON.Num("fMarkerSize", a.GetMarkerSize());
  }
  void TextMembers(const TAttText& a) {
    fJSON.Num("fTextAngle", a.GetTextAngle());
    fJSON.Num("fTextSize", a.GetTextSize());
    fJSON.Int("fTextAlign", a.GetTextAlign());
    fJSON.Int("fTextColor", a.GetTextColor());
    fJSON.Int("fTextFont", a.GetTextFont());
  }

  // A list, or the primitives of `pad`: ROOT ignores "same" on the first
  // histogram of a pad that has no frame yet, so it is dropped here for the
  // renderer, and the primitives other than pads may be written as fInstead
  // says.
  void List(const TList& list, const TPad* pad = nullptr) {
    fJSON.Begin("TList");
    fJSON.Str("name", "TList");
    fJSON.Key("arr");
    fJSON.Put("[");
    TIter next(&list);
    int index = 0;
    while (TObject* obj = next()) {
      if (index) fJSON.Put(",");
      if (pad && fInstead && !dynamic_cast<const TPad*>(obj))
        fJSON.Put((*fInstead)(*pad, index, *obj));
      else
        Object(*obj);
      ++index;
    }
    fJSON.Put("]");
    fJSON.Key("opt");
    fJSON.Put("[");
    TIter opts(&list);
    bool frame = false;
    bool first = true;
    while (TObject* obj = opts()) {
      if (!first) fJSON.Put(",");
      std::string option = opts.GetOption();
      if (pad) frame = DrawnOption(*obj, option, frame);
      fJSON.String(option);
      first = false;
    }
    fJSON.Put("]");
    fJSON.End();
  }

  // Adjusts the option of obj as drawn in a pad; returns whether the pad has a
  // frame after it.
  static bool DrawnOption(const TObject& obj, std::string& option, bool frame) {
    std::string lower = option;
    for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
    if (dynamic_cast<const TH1*>(&obj)) {
      const std::size_t same = lower.find("same");
      if (!frame && same != std::string::npos) option.erase(same, 4);
      return true;
    }
    if (dynamic_cast<const TGraph*>(&obj)) return frame || lower.find('a') != std::string::npos;
    return frame;
  }

  void Axis(const TAxis& a) {
    fJSON.Begin("TAxis");
    ObjectMembers(a, ObjectBits(a));
    NamedMembers(a);
    fJSON.Int("fNdivisions", a.GetNdivisions());
    fJSON.Int("fAxisColor", a.GetAxisColor());
    fJSON.Int("fLabelColor", a.GetLabelColor());
    fJSON.Int("fLabelFont", a.GetLabelFont());
    fJSON.Num("fLabelOffset", a.GetLabelOffset());
    fJSON.Num("fLabelSize", a.GetLabelSize());
    fJSON.Num("fTickLength", a.GetTickLength());
    fJSON.Num("fTitleOffset", a.GetTitleOffset());
    fJSON.Num("fTitleSize", a.GetTitleSize());
    fJSON.Int("fTitleColor", a.GetTitleColor());
    fJSON.Int("fTitleFont", a.GetTitleFont());
    fJSON.Int("fNbins", a.GetNbins());
    fJSON.Num("fXmin", a.GetXmin());
    fJSON.Num("fXmax", a.GetXmax());
    fJSON.EmptyArray("fXbins");
    const bool range = a.TestBit(TAxis::kAxisRange);
    fJSON.Int("fFirst", range ? a.GetFirst() : 0);
    fJSON.Int("fLast", range ? a.GetLast() : 0);
    fJSON.Int("fBits2", a.GetBits2());
    fJSON.Bool("fTimeDisplay", a.GetTimeDisplay());
    fJSON.Str("fTimeFormat", "");
    if (a.GetLabelList().empty())
      fJSON.Null("fLabels");
    else
      Labels(a.GetLabelList());
    fJSON.Null("fModLabs");
    fJSON.End();
  }

  // A THashList of one TObjString per label, its unique ID the bin.
  void Labels(const std::vector<std::pair<Int_t, std::string>>& labels) {
    fJSON.Key("fLabels");
    fJSON.Begin("THashList");
    fJSON.Str("name", "THashList");
    fJSON.Key("arr");
    fJSON.Put("[");
    for (std::size_t i = 0; i < labels.size(); ++i) {
      if (i) fJSON.Put(",");
      fJSON.Begin("TObjString");
      fJSON.Int("fUniqueID", labels[i].first);
      fJSON.Int("fBits", 0);
      fJSON.Str("fString", labels[i].second);
      fJSON.End();
    }
    fJSON.Put("]");
    fJSON.Key("opt");
    fJSON.Put("[");
    for (std::size_t i = 0; i < labels.size(); ++i) fJSON.Put(i ? ",\"\"" : "\"\"");
    fJSON.Put("]");
    fJSON.End();
  }

  void Histogram(const TH1& h) {
    fJSON.Begin(h.ClassName());
    UInt_t bits = ObjectBits(h);
    if (gStyle && gStyle->GetOptStat() == 0) bits |= TH1::kNoStats;
    ObjectMembers(h, bits);
    NamedMembers(h);
    LineMembers(h);
    FillMembers(h);
    MarkerMembers(h);
    fJSON.Int("fNcells", h.fNcells);
    fJSON.Key("fXaxis");
    Axis(h.fXaxis);
    fJSON.Key("fYaxis");
    Axis(h.fYaxis);
    fJSON.Key("fZaxis");
    Axis(h.fZaxis);
    fJSON.Int("fBarOffset", h.fBarOffset);
    fJSON.Int("fBarWidth", h.fBarWidth);
    fJSON.Num("fEntries", h.fEntries);
    fJSON.Num("fTsumw", h.fTsumw);
    fJSON.Num("fTsumw2", h.fTsumw2);
    fJSON.Num("fTsumwx", h.fTsumwx);
    fJSON.Num("fTsumwx2", h.fTsumwx2);
    fJSON.Num("fMaximum", h.fMaximum);
    fJSON.Num("fMinimum", h.fMinimum);
    fJSON.Num("fNormFactor", h.fNormFactor);
    fJSON.Key("fContour");
    fJSON.PlainArray(h.fContour.fArray, std::size_t(h.fContour.fN));
    fJSON.Key("fSumw2");
    fJSON.CompressedArray(h.fSumw2.fArray, std::size_t(h.fSumw2.fN));
    fJSON.Str("fOption", h.fOption);
    fJSON.Key("fFunctions");
    List(*h.fFunctions);
    fJSON.Int("fBufferSize", 0);
    fJSON.EmptyArray("fBuffer");
    fJSON.Int("fBinStatErrOpt", 0);
    fJSON.Int("fStatOverflows", 2);
    if (auto* h2 = dynamic_cast<const TH2*>(&h)) {
      fJSON.Num("fScalefactor", h2->fScalefactor);
      fJSON.Num("fTsumwy", h2->fTsumwy);
      fJSON.Num("fTsumwy2", h2->fTsumwy2);
      fJSON.Num("fTsumwxy", h2->fTsumwxy);
    }
    if (auto* floats = dynamic_cast<const TArrayF*>(&h)) {
      fJSON.Key("fArray");
      Cells(floats->fArray, std::size_t(floats->fN));
    } else if (auto* doubles = dynamic_cast<const TArrayD*>(&h)) {
      fJSON.Key("fArray");
      Cells(doubles->fArray, std::size_t(doubles->fN));
    } else {
      fJSON.EmptyArray("fArray");
    }
    fJSON.End();
  }

  template <class T>
  void Cells(const T* a, std::size_t n) {
    if (fCountCells)
      fJSON.CountArray(a, n);
    else
      fJSON.CompressedArray(a, n);
  }

  void Graph(const TGraph& g) {
    fJSON.Begin(g.ClassName());
    ObjectMembers(g, ObjectBits(g));
    NamedMembers(g);
    LineMembers(g);
    FillMembers(g);
    MarkerMembers(g);
    fJSON.Int("fNpoints", g.fNpoints);
    fJSON.Key("fX");
    fJSON.PlainArray(g.fX.data(), g.fX.size());
    fJSON.Key("fY");
    fJSON.PlainArray(g.fY.data(), g.fY.size());
    fJSON.Key("fFunctions");
    List(*g.fFunctions);
    fJSON.Null("fHistogram");
    fJSON.Num("fMinimum", g.fMinimum);
    fJSON.Num("fMaximum", g.fMaximum);
    if (auto* ae = dynamic_cast<const TGraphAsymmErrors*>(&g)) {
      fJSON.Key("fEXlow");
      fJSON.PlainArray(ae->fEXlow.data(), ae->fEXlow.size());
      fJSON.Key("fEXhigh");
      fJSON.PlainArray(ae->fEXhigh.data(), ae->fEXhigh.size());
      fJSON.Key("fEYlow");
      fJSON.PlainArray(ae->fEYlow.data(), ae->fEYlow.size());
      fJSON.Key("fEYhigh");
      fJSON.PlainArray(ae->fEYhigh.data(), ae->fEYhigh.size());
    }
    fJSON.End();
  }

  void Function(const TF1& f) {
    fJSON.Begin("TF1");
    ObjectMembers(f, ObjectBits(f));
    fJSON.Str("fName", f.GetName());
    fJSON.Str("fTitle", f.fFormula);
    LineMembers(f);
    FillMembers(f);
    MarkerMembers(f);
    fJSON.Num("fXmin", f.fXmin);
    fJSON.Num("fXmax", f.fXmax);
    fJSON.Int("fNpar", f.GetNpar());
    fJSON.Int("fNdim", 1);
    fJSON.Int("fNpx", f.fNpx);
    fJSON.Int("fType", 0);
    fJSON.Int("fNpfits", f.fNDF + f.GetNpar());
    fJSON.Int("fNDF", f.fNDF);
    fJSON.Num("fChisquare", f.fChisquare);
    fJSON.Num("fMinimum", -1111.0);
    fJSON.Num("fMaximum", -1111.0);
    fJSON.Key("fParErrors");
    fJSON.PlainArray(f.fParErrors.data(), f.fParErrors.size());
    fJSON.Key("fParMin");
    fJSON.PlainArray(f.fParMin.data(), f.fParMin.size());
    fJSON.Key("fParMax");
    fJSON.PlainArray(f.fParMax.data(), f.fParMax.size());
    fJSON.EmptyArray("fSave");
    fJSON.Null("fHistogram");
    fJSON.Key("fParams");
    fJSON.Begin("TF1Parameters");
    fJSON.Key("fParameters");
    fJSON.PlainArray(f.fParams.data(), f.fParams.size());
    fJSON.Key("fParNames");
    fJSON.Put("[");
    for (std::size_t i = 0; i < f.fNames.size(); ++i) {
      if (i) fJSON.Put(",");
      fJSON.String(f.fNames[i]);
    }
    fJSON.Put("]");
    fJSON.End();
    fJSON.End();
  }

  void Text(const TText& t) {
    const auto* latex = dynamic_cast<const TLatex*>(&t);
    fJSON.Begin(latex ? "TLatex" : "TText");
    ObjectMembers(t, ObjectBits(t));
    NamedMembers(t);
    TextMembers(t);
    fJSON.Num("fX", t.GetX());
    fJSON.Num("fY", t.GetY());
    if (latex) {
      LineMembers(*latex);
      fJSON.Num("fLimitFactorSize", latex->GetLimitFactorSize());
      fJSON.Num("fOriginSize", latex->GetOriginSize());
    }
    fJSON.End();
  }

  void PadMembers(const TPad& p) {
    ObjectMembers(p, ObjectBits(p));
    LineMembers(p);
    FillMembers(p);
    fJSON.Num("fLeftMargin", p.GetLeftMargin());
    fJSON.Num("fRightMargin", p.GetRightMargin());
    fJSON.Num("fBottomMargin", p.GetBottomMargin());
    fJSON.Num("fTopMargin", p.GetTopMargin());
    fJSON.Int("fFrameFillColor", p.GetFrameFillColor());
    fJSON.Int("fFrameLineColor", p.GetFrameLineColor());
    fJSON.Int("fFrameFillStyle", p.GetFrameFillStyle());
    fJSON.Int("fFrameLineStyle", p.GetFrameLineStyle());
    fJSON.Int("fFrameLineWidth", p.GetFrameLineWidth());
    fJSON.Int("fFrameBorderSize", p.GetFrameBorderSize());
    fJSON.Int("fFrameBorderMode", p.GetFrameBorderMode());
    fJSON.Int("fX1", 0);
    fJSON.Int("fY1", 0);
    fJSON.Int("fX2", 1);
    fJSON.Int("fY2", 1);
    fJSON.Num("fXlowNDC", p.fXlowNDC);
    fJSON.Num("fYlowNDC", p.fYlowNDC);
    fJSON.Num("fXUpNDC", p.fXUpNDC);
    fJSON.Num("fYUpNDC", p.fYUpNDC);
    fJSON.Num("fWNDC", p.fWNDC);
    fJSON.Num("fHNDC", p.fHNDC);
    fJSON.Num("fAbsXlowNDC", p.fAbsXlowNDC);
    fJSON.Num("fAbsYlowNDC", p.fAbsYlowNDC);
    fJSON.Num("fAbsWNDC", p.fAbsWNDC);
    fJSON.Num("fAbsHNDC", p.fAbsHNDC);
    fJSON.Int("fUxmin", 0);
    fJSON.Int("fUymin", 0);
    fJSON.Int("fUxmax", 0);
    fJSON.Int("fUymax", 0);
    fJSON.Int("fTheta", 30);
    fJSON.Int("fPhi", 30);
    fJSON.Int("fAspectRatio", 0);
    fJSON.Int("fNumber", p.fNumber);
    fJSON.Int("fTickx", p.fTickx);
    fJSON.Int("fTicky", p.fTicky);
    fJSON.Int("fLogx", p.fLogx);
    fJSON.Int("fLogy", p.fLogy);
    fJSON.Int("fLogz", p.fLogz);
    fJSON.Int("fBorderSize", p.fBorderSize);
    fJSON.Int("fBorderMode", p.fBorderMode);
    fJSON.Bool("fModified", p.fModified);
    fJSON.Bool("fGridx", p.fGridx);
    fJSON.Bool("fGridy", p.fGridy);
    fJSON.Bool("fEditable", p.fEditable);
    fJSON.Key("fPrimitives");
    List(*p.fPrimitives, &p);
    fJSON.Null("fExecs");
    fJSON.Str("fName", p.fName);
    fJSON.Str("fTitle", p.fTitle);
  }

  void Pad(const TPad& p, const char* type) {
    fJSON.Begin(type);
    PadMembers(p);
    fJSON.End();
  }

  void Canvas(const TCanvas& c) {
    fJSON.Begin("TCanvas");
    PadMembers(c);
    fJSON.Int("fWindowWidth", c.fCw);
    fJSON.Int("fWindowHeight", c.fCh);
    fJSON.Int("fCw", c.fCw);
    fJSON.Int("fCh", c.fCh);
    fJSON.Int("fHighLightColor", 2);
    fJSON.Bool("fBatch", true);
    fJSON.End();
  }

  JSONEncoder fJSON;
  const PrimitiveText* fInstead;
  const bool fCountCells;  // fArray as whole counts (CountsToJSON)
};

void AppendJSON(std::string& out, const TObject& obj) {
  JSONWriter writer(out);
  writer.Object(obj);
}

void AppendJSON(std::string& out, const TPad& pad, const PrimitiveText& instead) {
  JSONWriter writer(out, &instead);
  writer.Object(pad);
}

std::string ToJSON(const TObject& obj) {
  std::string out;
  AppendJSON(out, obj);
  return out;
}

std::string CountsToJSON(const TH1& h) {
  std::string out;
  JSONWriter writer(out, nullptr, true);
  writer.Object(h);
  return out;
}

}  // namespace rootcompat
