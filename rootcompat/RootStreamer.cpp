// Each class is written as its ROOT streamer writes it (TBufferFile, member
// by member in the order of its class description): a byte count and class
// version, then bases and members. Arrays (TArrayF/D) write their length and
// values without a version; counted arrays (TGraph's points) a byte telling
// whether values follow.
#include "RootStreamer.h"

#include <typeinfo>

#include "RootBuffer.h"
#include "StreamerInfo.h"
#include "TError.h"
#include "TGraphAsymmErrors.h"
#include "TH2.h"
#include "TList.h"

namespace rootcompat {

class RootStreamer {
 public:
  RootStreamer(std::set<std::string>& classes, bool noStats) : fClasses(classes), fNoStats(noStats) {}

  RootBuffer& Buffer() { return fBuffer; }

  static bool CanStream(const TObject& obj) {
    return dynamic_cast<const TH2F*>(&obj) || dynamic_cast<const TH1F*>(&obj) || dynamic_cast<const TH1D*>(&obj) ||
           dynamic_cast<const TGraph*>(&obj) || typeid(obj) == typeid(TNamed);
  }

  // Writes obj with its own streamer; obj is of a class CanStream accepts.
  void Object(const TObject& obj) {
    fClasses.insert(obj.ClassName());
    if (auto* h = dynamic_cast<const TH2F*>(&obj)) return H2F(*h);
    if (auto* h = dynamic_cast<const TH1F*>(&obj)) return H1F(*h);
    if (auto* h = dynamic_cast<const TH1D*>(&obj)) return H1D(*h);
    if (auto* g = dynamic_cast<const TGraphAsymmErrors*>(&obj)) return GraphAsymmErrors(*g);
    if (auto* g = dynamic_cast<const TGraph*>(&obj)) return Graph(*g);
    if (typeid(obj) == typeid(TNamed)) return Named(static_cast<const TNamed&>(obj));
  }

 private:
  std::size_t Start(const char* className) { return fBuffer.StartVersioned(ClassVersion(className)); }
  void End(std::size_t start) { fBuffer.EndVersioned(start); }

  static Version_t ClassVersion(const char* className) {
    return Version_t(FindClassDescription(className)->version);
  }

  static UInt_t Bits(const TObject& obj) {
    UInt_t bits = 0;
    for (int b = 0; b < 32; ++b)
      if (obj.TestBit(UInt_t(1) << b)) bits |= UInt_t(1) << b;
    return bits;
  }

  void Named(const TNamed& n, UInt_t extraBits = 0) {
    const std::size_t start = Start("TNamed");
    fBuffer.WriteObjectHeader(n.GetUniqueID(), Bits(n) | extraBits);
    fBuffer.WriteString(n.GetName());
    fBuffer.WriteString(n.GetTitle());
    End(start);
  }

  void AttLine(const TAttLine& a) {
    const std::size_t start = Start("TAttLine");
    fBuffer.WriteShort(a.GetLineColor());
    fBuffer.WriteShort(a.GetLineStyle());
    fBuffer.WriteShort(a.GetLineWidth());
    End(start);
  }

  void AttFill(const TAttFill& a) {
    const std::size_t start = Start("TAttFill");
    fBuffer.WriteShort(a.GetFillColor());
    fBuffer.WriteShort(a.GetFillStyle());
    End(start);
  }

  void AttMarker(const TAttMarker& a) {
    const std::size_t start = Start("TAttMarker");
    fBuffer.WriteShort(a.GetMarkerColor());
    fBuffer.WriteShort(a.GetMarkerStyle());
    fBuffer.WriteFloat(a.GetMarkerSize());
    End(start);
  }

  void AttAxis(const TAttAxis& a) {
    const std::size_t start = Start("TAttAxis");
    fBuffer.WriteInt(a.GetNdivisions());
    fBuffer.WriteShort(a.GetAxisColor());
    fBuffer.WriteShort(a.GetLabelColor());
    fBuffer.WriteShort(a.GetLabelFont());
    fBuffer.WriteFloat(a.GetLabelOffset());
    fBuffer.WriteFloat(a.GetLabelSize());
    fBuffer.WriteFloat(a.GetTickLength());
    fBuffer.WriteFloat(a.GetTitleOffset());
    fBuffer.WriteFloat(a.GetTitleSize());
    fBuffer.WriteShort(a.GetTitleColor());
    fBuffer.WriteShort(a.GetTitleFont());
    End(start);
  }

  void ArrayF(const TArrayF& a) {
    fBuffer.WriteInt(a.fN);
    fBuffer.WriteFloatArray(a.fArray, std::size_t(a.fN));
  }

  void ArrayD(const TArrayD& a) {
    fBuffer.WriteInt(a.fN);
    fBuffer.WriteDoubleArray(a.fArray, std::size_t(a.fN));
  }

  void Axis(const TAxis& a) {
    const std::size_t start = Start("TAxis");
    Named(a);
    AttAxis(a);
    fBuffer.WriteInt(a.GetNbins());
    fBuffer.WriteDouble(a.GetXmin());
    fBuffer.WriteDouble(a.GetXmax());
    ArrayD(*a.GetXbins());
    // An axis without a user range stores 0, 0 as ROOT does.
    const bool range = a.TestBit(TAxis::kAxisRange);
    fBuffer.WriteInt(range ? a.GetFirst() : 0);
    fBuffer.WriteInt(range ? a.GetLast() : 0);
    fBuffer.WriteShort(Short_t(a.GetBits2()));
    fBuffer.WriteBool(a.GetTimeDisplay());
    fBuffer.WriteString("");  // fTimeFormat
    if (a.GetLabelList().empty())
      fBuffer.WriteNullObject();
    else
      Labels(a.GetLabelList());
    fBuffer.WriteNullObject();  // fModLabs
    End(start);
  }

  // fLabels: a THashList (streamed as a TList) of one TObjString per label,
  // its unique ID the bin.
  void Labels(const std::vector<std::pair<Int_t, std::string>>& labels) {
    fClasses.insert("THashList");
    fClasses.insert("TObjString");
    const std::size_t tagged = fBuffer.StartTaggedObject("THashList");
    const std::size_t start = Start("TList");
    fBuffer.WriteObjectHeader(0, 0);
    fBuffer.WriteString("");
    fBuffer.WriteInt(Int_t(labels.size()));
    for (const auto& [bin, text] : labels) {
      const std::size_t label = fBuffer.StartTaggedObject("TObjString");
      const std::size_t string = Start("TObjString");
      fBuffer.WriteObjectHeader(UInt_t(bin), 0);
      fBuffer.WriteString(text);
      End(string);
      fBuffer.EndVersioned(label);
      fBuffer.WriteString("");  // the option
    }
    End(start);
    fBuffer.EndVersioned(tagged);
  }

  // A list's streamer: name, size, then each object with its class tag and option.
  void List(const TList& list) {
    fClasses.insert("TList");
    const std::size_t start = Start("TList");
    fBuffer.WriteObjectHeader(list.GetUniqueID(), Bits(list));
    fBuffer.WriteString("");
    Int_t count = 0;
    TIter counting(&list);
    while (TObject* obj = counting()) count += CanStream(*obj) ? 1 : 0;
    fBuffer.WriteInt(count);
    TIter next(&list);
    while (TObject* obj = next()) {
      if (!CanStream(*obj)) {
        ::Warning("StreamObject", "%s of class %s is left out: this library cannot write that class",
                  obj->GetName(), obj->ClassName());
        continue;
      }
      TaggedObject(*obj);
      fBuffer.WriteString(next.GetOption());
    }
    End(start);
  }

  void TaggedObject(const TObject& obj) {
    const std::size_t start = fBuffer.StartTaggedObject(obj.ClassName());
    Object(obj);
    fBuffer.EndVersioned(start);
  }

  void H1(const TH1& h) {
    const std::size_t start = Start("TH1");
    Named(h, fNoStats ? UInt_t(TH1::kNoStats) : 0);
    AttLine(h);
    AttFill(h);
    AttMarker(h);
    fBuffer.WriteInt(h.fNcells);
    Axis(h.fXaxis);
    Axis(h.fYaxis);
    Axis(h.fZaxis);
    fBuffer.WriteShort(h.fBarOffset);
    fBuffer.WriteShort(h.fBarWidth);
    for (Double_t v : {h.fEntries, h.fTsumw, h.fTsumw2, h.fTsumwx, h.fTsumwx2, h.fMaximum, h.fMinimum,
                       h.fNormFactor})
      fBuffer.WriteDouble(v);
    ArrayD(h.fContour);
    ArrayD(h.fSumw2);
    fBuffer.WriteString(h.fOption);
    List(*h.fFunctions);  // never null ("->"): written without a class tag
    fBuffer.WriteInt(0);  // fBufferSize
    fBuffer.WriteChar(0);  // fBuffer: no values
    fBuffer.WriteInt(0);  // fBinStatErrOpt: kNormal
    fBuffer.WriteInt(2);  // fStatOverflows: kNeutral, the global setting applies
    End(start);
  }

  void H1F(const TH1F& h) {
    const std::size_t start = Start("TH1F");
    H1(h);
    ArrayF(h);
    End(start);
  }

  void H1D(const TH1D& h) {
    const std::size_t start = Start("TH1D");
    H1(h);
    ArrayD(h);
    End(start);
  }

  void H2F(const TH2F& h) {
    const std::size_t start = Start("TH2F");
    const std::size_t base = Start("TH2");
    H1(h);
    for (Double_t v : {h.fScalefactor, h.fTsumwy, h.fTsumwy2, h.fTsumwxy}) fBuffer.WriteDouble(v);
    End(base);
    ArrayF(h);
    End(start);
  }

  void CountedArray(const std::vector<Double_t>& values, Int_t count) {
    if (count <= 0) {
      fBuffer.WriteChar(0);
      return;
    }
    fBuffer.WriteChar(1);
    fBuffer.WriteDoubleArray(values.data(), std::size_t(count));
  }

  void Graph(const TGraph& g) {
    const std::size_t start = Start("TGraph");
    Named(g);
    AttLine(g);
    AttFill(g);
    AttMarker(g);
    fBuffer.WriteInt(g.fNpoints);
    CountedArray(g.fX, g.fNpoints);
    CountedArray(g.fY, g.fNpoints);
    const std::size_t functions = fBuffer.StartTaggedObject("TList");
    List(*g.fFunctions);
    fBuffer.EndVersioned(functions);
    fBuffer.WriteNullObject();  // fHistogram: made again by whoever draws the graph
    fBuffer.WriteDouble(g.fMinimum);
    fBuffer.WriteDouble(g.fMaximum);
    End(start);
  }

  void GraphAsymmErrors(const TGraphAsymmErrors& g) {
    const std::size_t start = Start("TGraphAsymmErrors");
    Graph(g);
    for (const std::vector<Double_t>* errors : {&g.fEXlow, &g.fEXhigh, &g.fEYlow, &g.fEYhigh})
      CountedArray(*errors, g.fNpoints);
    End(start);
  }

  RootBuffer fBuffer;
  std::set<std::string>& fClasses;
  bool fNoStats;
};

bool StreamObject(const TObject& obj, const char* name, StreamedObject& out, std::string& error, bool noStats) {
  if (!RootStreamer::CanStream(obj)) {
    error = std::string("objects of class ") + obj.ClassName() + " cannot be written to a ROOT file (" +
            obj.GetName() + ")";
    return false;
  }
  out.className = obj.ClassName();
  out.name = name && *name ? name : obj.GetName();
  out.title = obj.GetTitle();
  out.classes.clear();
  RootStreamer streamer(out.classes, noStats);
  streamer.Object(obj);
  out.references = streamer.Buffer().TakeReferences();
  out.payload = streamer.Buffer().TakeData();
  return true;
}

}  // namespace rootcompat
