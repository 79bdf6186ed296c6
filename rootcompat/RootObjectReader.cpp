// Each class is read as RootStreamer writes it: a byte count and version,
// then bases and members; the byte count bounds what is read and lets a
// reader step over what it does not keep.
#include "RootObjectReader.h"

#include "RootCursor.h"
#include "RootFileKeys.h"
#include "TGraphAsymmErrors.h"
#include "TH2.h"
#include "TList.h"

namespace rootcompat {

namespace {

constexpr UInt_t kByteCountMask = 0x40000000;

class RootReaderFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace

class RootReader {
 public:
  explicit RootReader(std::string_view payload) : fCursor(payload) {}

  std::unique_ptr<TObject> Object(const std::string& className) {
    std::unique_ptr<TObject> object;
    if (className == "TH1F") object = Histogram<TH1F>();
    else if (className == "TH1D") object = Histogram<TH1D>();
    else if (className == "TH2F") object = Map();
    else if (className == "TGraph") object = GraphOnly();
    else if (className == "TGraphAsymmErrors") object = GraphAsymmErrors();
    else if (className == "TNamed") object = NamedOnly();
    else throw RootReaderFailure("objects of class " + className + " are not read");
    Check();
    return object;
  }

 private:
  void Check() {
    if (fCursor.Failed()) throw RootReaderFailure("the object's bytes end early or are damaged");
  }

  // A byte count and version; returns where the block ends.
  std::size_t Start() {
    const UInt_t count = fCursor.UInt();
    if (!(count & kByteCountMask)) fCursor.Fail();
    const std::size_t end = fCursor.Position() + (count & ~kByteCountMask);
    fCursor.Short();
    Check();
    if (end > fCursor.Size()) throw RootReaderFailure("a byte count points past the object");
    return end;
  }
  void End(std::size_t end) {
    fCursor.MoveTo(end);
    Check();
  }

  // An object pointer: none, or one with its class tag, stepped over.
  void SkipPointer() {
    const UInt_t count = fCursor.UInt();
    if (count == 0) return;
    if (!(count & kByteCountMask)) throw RootReaderFailure("a damaged object pointer");
    fCursor.Skip(count & ~kByteCountMask);
  }

  void Named(TNamed& named) {
    const std::size_t end = Start();
    fCursor.Short();  // TObject's version
    named.SetUniqueID(fCursor.UInt());
    const UInt_t bits = fCursor.UInt();
    for (int b = 0; b < 32; ++b) named.SetBit(UInt_t(1) << b, (bits >> b & 1) != 0);
    named.SetName(fCursor.String().c_str());
    named.SetTitle(fCursor.String().c_str());
    End(end);
  }

  void AttLine(TAttLine& a) {
    const std::size_t end = Start();
    a.SetLineColor(fCursor.Short());
    a.SetLineStyle(fCursor.Short());
    a.SetLineWidth(fCursor.Short());
    End(end);
  }

  void AttFill(TAttFill& a) {
    const std::size_t end = Start();
    a.SetFillColor(fCursor.Short());
    a.SetFillStyle(fCursor.Short());
    End(end);
  }

  void AttMarker(TAttMarker& a) {
    const std::size_t end = Start();
    a.SetMarkerColor(fCursor.Short());
    a.SetMarkerStyle(fCursor.Short());
    a.SetMarkerSize(fCursor.Float());
    End(end);
  }

  void AttAxis(TAttAxis& a) {
    const std::size_t end = Start();
    const Int_t divisions = fCursor.Int();
    a.SetNdivisions(divisions < 0 ? -divisions : divisions, divisions >= 0);
    a.SetAxisColor(fCursor.Short());
    a.SetLabelColor(fCursor.Short());
    a.SetLabelFont(fCursor.Short());
    a.SetLabelOffset(fCursor.Float());
    a.SetLabelSize(fCursor.Float());
    a.SetTickLength(fCursor.Float());
    a.SetTitleOffset(fCursor.Float());
    a.SetTitleSize(fCursor.Float());
    a.SetTitleColor(fCursor.Short());
    a.SetTitleFont(fCursor.Short());
    End(end);
  }

  template <class Array, class Value, class Read>
  void Values(Array& array, Read read) {
    const Int_t n = fCursor.Int();
    if (n < 0 || std::size_t(n) > (fCursor.Size() - fCursor.Position()) / sizeof(Value))
      throw RootReaderFailure("an array longer than the object");
    array.Set(n);
    for (Int_t i = 0; i < n; ++i) array.fArray[i] = read();
  }
  void ArrayD(TArrayD& array) { Values<TArrayD, Double_t>(array, [this] { return fCursor.Double(); }); }
  void ArrayF(TArrayF& array) { Values<TArrayF, Float_t>(array, [this] { return fCursor.Float(); }); }

  void Axis(TAxis& axis) {
    const std::size_t end = Start();
    Named(axis);
    AttAxis(axis);
    const Int_t nbins = fCursor.Int();
    const Double_t xmin = fCursor.Double();
    const Double_t xmax = fCursor.Double();
    Check();
    if (nbins < 1) throw RootReaderFailure("an axis without bins");
    TArrayD edges;  // this library's axes have fixed bins
    ArrayD(edges);
    axis.Set(nbins, xmin, xmax);
    const Int_t first = fCursor.Int();
    const Int_t last = fCursor.Int();
    if (first != 0 || last != 0) axis.SetRange(first, last);
    End(end);
  }

  template <class Histogram>
  void H1(Histogram& h) {
    const std::size_t end = Start();
    Named(h);
    AttLine(h);
    AttFill(h);
    AttMarker(h);
    const Int_t cells = fCursor.Int();
    Axis(h.fXaxis);
    Axis(h.fYaxis);
    Axis(h.fZaxis);
    const long expected = long(h.fXaxis.GetNbins() + 2) * (h.fDimension > 1 ? h.fYaxis.GetNbins() + 2 : 1);
    if (cells != expected) throw RootReaderFailure("its cells do not match its axes");
    h.fNcells = cells;
    h.fBarOffset = fCursor.Short();
    h.fBarWidth = fCursor.Short();
    for (Double_t* v : {&h.fEntries, &h.fTsumw, &h.fTsumw2, &h.fTsumwx, &h.fTsumwx2, &h.fMaximum, &h.fMinimum,
                        &h.fNormFactor})
      *v = fCursor.Double();
    ArrayD(h.fContour);
    ArrayD(h.fSumw2);
    h.fOption = fCursor.String();
    End(end);  // the functions and the fill buffer are not kept
  }

  template <class Histogram1D>
  std::unique_ptr<TObject> Histogram() {
    auto h = std::make_unique<Histogram1D>();
    const std::size_t end = Start();
    H1(*h);
    Contents(*h);
    End(end);
    return h;
  }

  template <class Histogram>
  void Contents(Histogram& h) {
    const Int_t cells = h.fNcells;
    ArrayOf(h);
    if (h.fN != cells) throw RootReaderFailure("holds " + std::to_string(h.fN) + " cells, its axes " + std::to_string(cells));
  }
  void ArrayOf(TH1F& h) { ArrayF(h); }
  void ArrayOf(TH1D& h) { ArrayD(h); }
  void ArrayOf(TH2F& h) { ArrayF(h); }

  std::unique_ptr<TObject> Map() {
    auto h = std::make_unique<TH2F>();
    const std::size_t end = Start();
    const std::size_t base = Start();
    H1(*h);
    for (Double_t* v : {&h->fScalefactor, &h->fTsumwy, &h->fTsumwy2, &h->fTsumwxy}) *v = fCursor.Double();
    End(base);
    Contents(*h);
    End(end);
    return h;
  }

  void Counted(std::vector<Double_t>& values, Int_t count) {
    values.assign(std::size_t(count), 0.0);
    if (fCursor.Char() == 0) return;
    for (Double_t& v : values) v = fCursor.Double();
  }

  void Graph(TGraph& g) {
    const std::size_t end = Start();
    Named(g);
    AttLine(g);
    AttFill(g);
    AttMarker(g);
    const Int_t points = fCursor.Int();
    if (points < 0 || std::size_t(points) > fCursor.Size() / sizeof(Double_t)) throw RootReaderFailure("impossible points");
    g.Set(points);
    Counted(g.fX, points);
    Counted(g.fY, points);
    SkipPointer();  // fFunctions
    SkipPointer();  // fHistogram
    g.fMinimum = fCursor.Double();
    g.fMaximum = fCursor.Double();
    End(end);
  }

  std::unique_ptr<TObject> GraphOnly() {
    auto g = std::make_unique<TGraph>();
    Graph(*g);
    return g;
  }

  std::unique_ptr<TObject> GraphAsymmErrors() {
    auto g = std::make_unique<TGraphAsymmErrors>();
    const std::size_t end = Start();
    Graph(*g);
    for (std::vector<Double_t>* errors : {&g->fEXlow, &g->fEXhigh, &g->fEYlow, &g->fEYhigh}) Counted(*errors, g->fNpoints);
    End(end);
    return g;
  }

  std::unique_ptr<TObject> NamedOnly() {
    auto n = std::make_unique<TNamed>();
    Named(*n);
    return n;
  }

  Cursor fCursor;
};

std::unique_ptr<TObject> ReadStreamedObject(const std::string& className, std::string_view payload,
                                            std::string& error) {
  const Bool_t directories = TH1::AddDirectoryStatus();
  TH1::AddDirectory(kFALSE);
  std::unique_ptr<TObject> object;
  try {
    object = RootReader(payload).Object(className);
  } catch (const RootReaderFailure& failure) {
    error = failure.what();
  }
  TH1::AddDirectory(directories);
  return object;
}

std::unique_ptr<TObject> ReadFileObject(const std::string& path, const std::string& name, std::string& error) {
  FileKeys contents;
  if (!ReadFileKeys(path, contents, error)) return nullptr;
  const KeyRecord* found = nullptr;
  for (const KeyRecord& key : contents.keys)
    if (key.name == name && (!found || key.cycle > found->cycle)) found = &key;
  if (!found) {
    error = "holds no object " + name;
    return nullptr;
  }
  std::string payload;
  if (!ReadKeyPayload(path, *found, payload, error)) return nullptr;
  std::unique_ptr<TObject> object = ReadStreamedObject(found->className, payload, error);
  if (!object) error = name + ": " + error;
  return object;
}

}  // namespace rootcompat
