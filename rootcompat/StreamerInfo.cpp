// The descriptions are ROOT 6's (6.18 and later) for these class versions:
// element kinds, types, sizes and titles as ROOT's dictionaries give them.
#include "StreamerInfo.h"

#include <algorithm>
#include <map>

#include "RootBuffer.h"

namespace rootcompat {

namespace {

using Kind = StreamerElement::Kind;

constexpr Version_t kStreamerInfoVersion = 9;
constexpr Version_t kObjArrayVersion = 3;
constexpr Version_t kListVersion = 5;
constexpr Version_t kElementVersion = 4;
constexpr Version_t kBaseElementVersion = 3;
constexpr Version_t kOtherElementVersion = 2;
constexpr Version_t kNamedVersion = 1;
// TVirtualStreamerInfo::kIsCompiled, set on the descriptions ROOT writes.
constexpr UInt_t kInfoIsCompiled = 1u << 16;
constexpr Int_t kPointerSize = 8;
constexpr Int_t kTStringSize = 24;
constexpr Int_t kTArraySize = 24;
constexpr Int_t kTAxisSize = 216;

// Checksums of base classes whose descriptions ROOT does not write: the
// arrays stream themselves (length, then values).
const std::map<std::string_view, UInt_t>& UndescribedCheckSums() {
  static const std::map<std::string_view, UInt_t> sums = {{"TArrayF", 0x5a0bf6f1}, {"TArrayD", 0x7139ef34}};
  return sums;
}

StreamerElement Base(const char* name, const char* title, Int_t baseVersion, Int_t type = kStreamerBase) {
  return {Kind::Base, name, title, type, 0, "BASE", baseVersion};
}

StreamerElement Basic(const char* name, const char* title, Int_t type, Int_t size, const char* typeName) {
  return {Kind::Basic, name, title, type, size, typeName};
}

StreamerElement Short(const char* name, const char* title) { return Basic(name, title, kStreamerShort, 2, "short"); }
StreamerElement Int(const char* name, const char* title) { return Basic(name, title, kStreamerInt, 4, "int"); }
StreamerElement Float(const char* name, const char* title) { return Basic(name, title, kStreamerFloat, 4, "float"); }
StreamerElement Double(const char* name, const char* title) {
  return Basic(name, title, kStreamerDouble, 8, "double");
}

StreamerElement Enum(const char* name, const char* title, const char* typeName) {
  StreamerElement element = Basic(name, title, kStreamerInt, 4, typeName);
  element.isEnum = true;
  return element;
}

StreamerElement String(const char* name, const char* title) {
  return {Kind::String, name, title, kStreamerTString, kTStringSize, "TString"};
}

StreamerElement ArrayD(const char* name, const char* title) {
  return {Kind::ObjectAny, name, title, kStreamerAny, kTArraySize, "TArrayD"};
}

StreamerElement Axis(const char* name, const char* title) {
  return {Kind::Object, name, title, kStreamerObject, kTAxisSize, "TAxis"};
}

StreamerElement Pointer(const char* name, const char* title, Int_t type, const char* typeName) {
  return {Kind::ObjectPointer, name, title, type, kPointerSize, typeName};
}

StreamerElement Counted(const char* name, const char* title, const char* countName, const char* countClass) {
  StreamerElement element{Kind::BasicPointer, name, title, kStreamerDoublePointer, kPointerSize, "double*"};
  element.countName = countName;
  element.countClass = countClass;
  return element;
}

std::vector<StreamerElement> AttBases() {
  return {Base("TNamed", "The basis for a named object (name, title)", 1, kStreamerTNamed),
          Base("TAttLine", "Line attributes", 2), Base("TAttFill", "Fill area attributes", 2),
          Base("TAttMarker", "Marker attributes", 2)};
}

std::vector<StreamerElement> HistogramElements() {
  std::vector<StreamerElement> e = AttBases();
  const std::vector<StreamerElement> members = {
      Int("fNcells", "Number of bins(1D), cells (2D) +U/Overflows"),
      Axis("fXaxis", "X axis descriptor"),
      Axis("fYaxis", "Y axis descriptor"),
      Axis("fZaxis", "Z axis descriptor"),
      Short("fBarOffset", "(1000*offset) for bar charts or legos"),
      Short("fBarWidth", "(1000*width) for bar charts or legos"),
      Double("fEntries", "Number of entries"),
      Double("fTsumw", "Total Sum of weights"),
      Double("fTsumw2", "Total Sum of squares of weights"),
      Double("fTsumwx", "Total Sum of weight*X"),
      Double("fTsumwx2", "Total Sum of weight*X*X"),
      Double("fMaximum", "Maximum value for plotting"),
      Double("fMinimum", "Minimum value for plotting"),
      Double("fNormFactor", "Normalization factor"),
      ArrayD("fContour", "Array to display contour levels"),
      ArrayD("fSumw2", "Array of sum of squares of weights"),
      String("fOption", "Histogram options"),
      Pointer("fFunctions", "->Pointer to list of functions (fits and user)", kStreamerObjectp, "TList*"),
      Basic("fBufferSize", "fBuffer size", kStreamerCounter, 4, "int"),
      Counted("fBuffer", "[fBufferSize] entry buffer", "fBufferSize", "TH1"),
      Enum("fBinStatErrOpt", "Option for bin statistical errors", "TH1::EBinErrorOpt"),
      Enum("fStatOverflows", "Per object flag to use under/overflows in statistics", "TH1::EStatOverflows")};
  e.insert(e.end(), members.begin(), members.end());
  return e;
}

std::vector<StreamerElement> GraphElements() {
  std::vector<StreamerElement> e = AttBases();
  const std::vector<StreamerElement> members = {
      Basic("fNpoints", "Number of points <= fMaxSize", kStreamerCounter, 4, "int"),
      Counted("fX", "[fNpoints] array of X points", "fNpoints", "TGraph"),
      Counted("fY", "[fNpoints] array of Y points", "fNpoints", "TGraph"),
      Pointer("fFunctions", "Pointer to list of functions (fits and user)", kStreamerObjectP, "TList*"),
      Pointer("fHistogram", "Pointer to histogram used for drawing axis", kStreamerObjectP, "TH1F*"),
      Double("fMinimum", "Minimum value for plotting along y"),
      Double("fMaximum", "Maximum value for plotting along y")};
  e.insert(e.end(), members.begin(), members.end());
  return e;
}

const std::vector<ClassDescription>& Descriptions() {
  static const std::vector<ClassDescription> descriptions = {
      {"TObject",
       1,
       {Basic("fUniqueID", "object unique identifier", kStreamerUInt, 4, "unsigned int"),
        Basic("fBits", "bit field status word", kStreamerBits, 4, "unsigned int")}},
      {"TNamed",
       1,
       {Base("TObject", "Basic ROOT object", 1, kStreamerTObject), String("fName", "object identifier"),
        String("fTitle", "object title")}},
      {"TString", 2, {}},
      {"TCollection",
       3,
       {Base("TObject", "Basic ROOT object", 1, kStreamerTObject), String("fName", "name of the collection"),
        Int("fSize", "number of elements in collection")}},
      {"TSeqCollection", 0, {Base("TCollection", "Collection abstract base class", 3)}, {{"fSorted", "bool"}}},
      {"TList", 5, {Base("TSeqCollection", "Sequenceable collection ABC", 0)}},
      {"THashList", 0, {Base("TList", "Doubly linked list", 5)}, {{"fTable", "THashTable*"}}},
      {"TObjString",
       1,
       {Base("TObject", "Basic ROOT object", 1, kStreamerTObject), String("fString", "wrapped TString")}},
      {"TAttLine",
       2,
       {Short("fLineColor", "Line color"), Short("fLineStyle", "Line style"), Short("fLineWidth", "Line width")}},
      {"TAttFill", 2, {Short("fFillColor", "Fill area color"), Short("fFillStyle", "Fill area style")}},
      {"TAttMarker",
       2,
       {Short("fMarkerColor", "Marker color"), Short("fMarkerStyle", "Marker style"),
        Float("fMarkerSize", "Marker size")}},
      {"TAttAxis",
       4,
       {Int("fNdivisions", "Number of divisions(10000*n3 + 100*n2 + n1)"),
        Short("fAxisColor", "Color of the line axis"), Short("fLabelColor", "Color of labels"),
        Short("fLabelFont", "Font for labels"), Float("fLabelOffset", "Offset of labels"),
        Float("fLabelSize", "Size of labels"), Float("fTickLength", "Length of tick marks"),
        Float("fTitleOffset", "Offset of axis title"), Float("fTitleSize", "Size of axis title"),
        Short("fTitleColor", "Color of axis title"), Short("fTitleFont", "Font for axis title")}},
      {"TAxis",
       10,
       {Base("TNamed", "The basis for a named object (name, title)", 1, kStreamerTNamed),
        Base("TAttAxis", "Axis attributes", 4), Int("fNbins", "Number of bins"),
        Double("fXmin", "Low edge of first bin"), Double("fXmax", "Upper edge of last bin"),
        ArrayD("fXbins", "Bin edges array in X"), Int("fFirst", "First bin to display"),
        Int("fLast", "Last bin to display"),
        Basic("fBits2", "Second bit status word", kStreamerUShort, 2, "unsigned short"),
        Basic("fTimeDisplay", "On/off displaying time values instead of numerics", kStreamerBool, 1, "bool"),
        String("fTimeFormat", "Date&time format, ex: 09/12/99 12:34:00"),
        Pointer("fLabels", "List of labels", kStreamerObjectP, "THashList*"),
        Pointer("fModLabs", "List of modified labels", kStreamerObjectP, "TList*")}},
      {"TH1", 8, HistogramElements()},
      {"TH1F", 3, {Base("TH1", "1-Dim histogram base class", 8), Base("TArrayF", "Array of floats", 1)}},
      {"TH1D", 3, {Base("TH1", "1-Dim histogram base class", 8), Base("TArrayD", "Array of doubles", 1)}},
      {"TH2",
       5,
       {Base("TH1", "1-Dim histogram base class", 8), Double("fScalefactor", "Scale factor"),
        Double("fTsumwy", "Total Sum of weight*Y"), Double("fTsumwy2", "Total Sum of weight*Y*Y"),
        Double("fTsumwxy", "Total Sum of weight*X*Y")}},
      {"TH2F", 4, {Base("TH2", "2-Dim histogram base class", 5), Base("TArrayF", "Array of floats", 1)}},
      {"TGraph", 4, GraphElements()},
      {"TGraphAsymmErrors",
       3,
       {Base("TGraph", "Graph graphics class", 4),
        Counted("fEXlow", "[fNpoints] array of X low errors", "fNpoints", "TGraph"),
        Counted("fEXhigh", "[fNpoints] array of X high errors", "fNpoints", "TGraph"),
        Counted("fEYlow", "[fNpoints] array of Y low errors", "fNpoints", "TGraph"),
        Counted("fEYhigh", "[fNpoints] array of Y high errors", "fNpoints", "TGraph")}},
  };
  return descriptions;
}

UInt_t Hash(UInt_t id, std::string_view text) {
  for (char c : text) id = id * 3 + UInt_t(Int_t(static_cast<signed char>(c)));
  return id;
}

// The array counter named in a member comment "[fN] ...", empty when none.
std::string_view Counter(std::string_view title) {
  const std::size_t left = title.find('[');
  if (left == std::string_view::npos) return {};
  const std::size_t right = title.find(']', left);
  if (right == std::string_view::npos) return {};
  return title.substr(left + 1, right - left - 1);
}

UInt_t ComputeCheckSum(const ClassDescription& d) {
  UInt_t id = Hash(0, d.name);
  for (const StreamerElement& e : d.elements) {
    if (e.kind != Kind::Base) continue;
    id = Hash(id, e.name);
    id = id * 3 + ClassCheckSum(e.name);
  }
  for (const StreamerElement& e : d.elements) {
    if (e.kind == Kind::Base) continue;
    if (e.isEnum) id = id * 3 + 1;
    id = Hash(Hash(id, e.name), e.typeName);
    id = Hash(id, Counter(e.title));
  }
  for (const ChecksumMember& m : d.checksumMembers) id = Hash(Hash(id, m.name), m.typeName);
  return id;
}

Version_t ClassVersion(std::string_view className) {
  const ClassDescription* d = FindClassDescription(className);
  return d ? Version_t(d->version) : 0;
}

// The class an element leads a reader to, empty for basic types.
std::string_view ElementClass(const StreamerElement& e) {
  switch (e.kind) {
    case Kind::Base:
      return e.name;
    case Kind::String:
      return "TString";
    case Kind::Object:
    case Kind::ObjectAny:
    case Kind::ObjectPointer: {
      std::string_view type = e.typeName;
      if (type.ends_with('*')) type.remove_suffix(1);
      return type;
    }
    default:
      return {};
  }
}

void Visit(std::string_view className, std::vector<std::string>& order) {
  const ClassDescription* d = FindClassDescription(className);
  if (!d || std::find(order.begin(), order.end(), className) != order.end()) return;
  order.emplace_back(className);
  for (const StreamerElement& e : d->elements) Visit(ElementClass(e), order);
}

const char* ElementClassName(Kind kind) {
  switch (kind) {
    case Kind::Base:
      return "TStreamerBase";
    case Kind::Basic:
      return "TStreamerBasicType";
    case Kind::String:
      return "TStreamerString";
    case Kind::Object:
      return "TStreamerObject";
    case Kind::ObjectAny:
      return "TStreamerObjectAny";
    case Kind::ObjectPointer:
      return "TStreamerObjectPointer";
    case Kind::BasicPointer:
      return "TStreamerBasicPointer";
  }
  return "TStreamerElement";
}

void WriteNamed(RootBuffer& b, std::string_view name, std::string_view title, UInt_t bits) {
  const std::size_t named = b.StartVersioned(kNamedVersion);
  b.WriteObjectHeader(0, bits);
  b.WriteString(name);
  b.WriteString(title);
  b.EndVersioned(named);
}

// TStreamerElement's own part: name, title, type, size, array shape, type name.
void WriteElementBody(RootBuffer& b, const StreamerElement& e) {
  const std::size_t element = b.StartVersioned(kElementVersion);
  WriteNamed(b, e.name, e.title, 0);
  b.WriteInt(e.type);
  b.WriteInt(e.size);
  b.WriteInt(0);  // fArrayLength
  b.WriteInt(0);  // fArrayDim
  // fMaxIndex: a base keeps its class checksum in the second entry.
  const Int_t maxIndex[5] = {0, e.kind == Kind::Base ? Int_t(ClassCheckSum(e.name)) : 0, 0, 0, 0};
  for (Int_t index : maxIndex) b.WriteInt(index);
  b.WriteString(e.typeName);
  b.EndVersioned(element);
}

void WriteElement(RootBuffer& b, const StreamerElement& e) {
  const std::size_t tagged = b.StartTaggedObject(ElementClassName(e.kind));
  const std::size_t own = b.StartVersioned(e.kind == Kind::Base ? kBaseElementVersion : kOtherElementVersion);
  WriteElementBody(b, e);
  if (e.kind == Kind::Base) b.WriteInt(e.baseVersion);
  if (e.kind == Kind::BasicPointer) {
    b.WriteInt(ClassVersion(e.countClass));
    b.WriteString(e.countName);
    b.WriteString(e.countClass);
  }
  b.EndVersioned(own);
  b.EndVersioned(tagged);
}

void WriteStreamerInfo(RootBuffer& b, const ClassDescription& d) {
  const std::size_t tagged = b.StartTaggedObject("TStreamerInfo");
  const std::size_t info = b.StartVersioned(kStreamerInfoVersion);
  WriteNamed(b, d.name, "", kInfoIsCompiled);
  b.WriteUInt(ClassCheckSum(d.name));
  b.WriteInt(d.version);
  const std::size_t array = b.StartTaggedObject("TObjArray");
  const std::size_t own = b.StartVersioned(kObjArrayVersion);
  b.WriteObjectHeader(0, 0);
  b.WriteString("");
  b.WriteInt(Int_t(d.elements.size()));
  b.WriteInt(0);  // fLowerBound
  for (const StreamerElement& e : d.elements) WriteElement(b, e);
  b.EndVersioned(own);
  b.EndVersioned(array);
  b.EndVersioned(info);
  b.EndVersioned(tagged);
}

}  // namespace

const ClassDescription* FindClassDescription(std::string_view className) {
  for (const ClassDescription& d : Descriptions())
    if (className == d.name) return &d;
  return nullptr;
}

UInt_t ClassCheckSum(std::string_view className) {
  if (auto fixed = UndescribedCheckSums().find(className); fixed != UndescribedCheckSums().end())
    return fixed->second;
  const ClassDescription* d = FindClassDescription(className);
  return d ? ComputeCheckSum(*d) : 0;
}

std::vector<std::string> ClassesToDescribe(const std::set<std::string>& classes) {
  std::vector<std::string> order;
  for (const std::string& name : classes) Visit(name, order);
  return order;
}

void WriteStreamerInfoList(RootBuffer& b, const std::vector<std::string>& classes) {
  const std::size_t list = b.StartVersioned(kListVersion);
  b.WriteObjectHeader(0, 0);
  b.WriteString("");
  std::vector<const ClassDescription*> described;
  for (const std::string& name : classes)
    if (const ClassDescription* d = FindClassDescription(name)) described.push_back(d);
  b.WriteInt(Int_t(described.size()));
  for (const ClassDescription* d : described) {
    WriteStreamerInfo(b, *d);
    b.WriteString("");  // the entry's option
  }
  b.EndVersioned(list);
}

}  // namespace rootcompat
