// ROOT JSON writer. Objects are written member by member in ROOT's streamer
// order straight into the output string; numeric arrays of six or more
// elements use JSROOT's "$arr" form: zero runs are skipped, runs of more than
// five equal values become a value and a count.
#include "RootJSON.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <vector>

#include "TCanvas.h"
#include "TF1.h"
#include "TGraphAsymmErrors.h"
#include "TH2.h"
#include "TLatex.h"
#include "TList.h"
#include "TStyle.h"

namespace rootcompat {

namespace {

// Zero runs up to this length stay inside a segment; longer ones split it.
constexpr int kMaxInlineZeros = 20;
// Runs of equal values longer than this become a value with a repeat count.
constexpr int kMinSameRun = 6;
// Arrays with more non-zero elements than this fraction are written as
// base64 of their bytes, shorter and faster than value segments then.
constexpr double kMaxSparseDensity = 0.25;
// Arrays shorter than this are written plainly.
constexpr int kMinCompressed = 6;

template <class T>
bool IsZero(T v) {
  return v == T(0);
}

// Finds the non-zero elements of an array, 64 at a time: each block of 64
// becomes a bit mask (SSE2 compares for floats), and the set bits are walked
// with count-trailing-zeros. -0 counts as zero. Queries must not go backwards.
template <class T>
class NonZeroScanner {
 public:
  NonZeroScanner(const T* a, size_t n) : fA(a), fN(n) {}

  // Fraction of non-zero elements, estimated from every 16th block of 64
  // (0 for arrays too short to sample).
  double SampledDensity() const {
    constexpr size_t kStride = 16;
    const size_t blocks = fN / 64;
    if (blocks < kStride) return 0;
    size_t nonZero = 0, sampled = 0;
    for (size_t block = 0; block < blocks; block += kStride, sampled += 64)
      nonZero += size_t(__builtin_popcountll(FullMask(fA + block * 64)));
    return double(nonZero) / double(sampled);
  }

  // Index of the first non-zero element at or after from, n if none.
  size_t Next(size_t from) {
    if (from >= fN) return fN;
    size_t block = from / 64;
    std::uint64_t mask = Mask(block) & (~std::uint64_t{0} << (from % 64));
    while (!mask) {
      if (++block * 64 >= fN) return fN;
      mask = Mask(block);
    }
    return block * 64 + size_t(__builtin_ctzll(mask));
  }

 private:
  std::uint64_t Mask(size_t block) {
    if (block == fBlock) return fMask;
    fBlock = block;
    const size_t start = block * 64;
    if (start + 64 <= fN) {
      fMask = FullMask(fA + start);
    } else {
      fMask = 0;
      for (size_t k = 0; start + k < fN; ++k)
        if (!IsZero(fA[start + k])) fMask |= std::uint64_t{1} << k;
    }
    return fMask;
  }

  static std::uint64_t FullMask(const T* p) {
#if defined(__SSE2__)
    if constexpr (sizeof(T) == 4) {
      const __m128i signless = _mm_set1_epi32(0x7fffffff);
      const __m128i zero = _mm_setzero_si128();
      std::uint64_t mask = 0;
      for (int k = 0; k < 64; k += 4) {
        const __m128i v = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k)), signless);
        const int isZero = _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(v, zero)));
        mask |= std::uint64_t(~isZero & 0xf) << k;
      }
      return mask;
    }
#endif
    std::uint64_t mask = 0;
    for (int k = 0; k < 64; ++k)
      if (!IsZero(p[k])) mask |= std::uint64_t{1} << k;
    return mask;
  }

  const T* fA;
  size_t fN;
  size_t fBlock = ~size_t{0};
  std::uint64_t fMask = 0;
};

// Collects the output in a per-thread scratch buffer that keeps its size
// between calls (no reallocation or page faults once warm), and appends it to
// the destination string in one copy at the end.
class Sink {
 public:
  explicit Sink(std::string& out) : fOut(out), fBuffer(Scratch()), fUsed(0) {}
  ~Sink() { fOut.append(fBuffer.data(), fUsed); }
  Sink(const Sink&) = delete;
  Sink& operator=(const Sink&) = delete;

  char* Reserve(size_t n) {
    if (fUsed + n > fBuffer.size()) fBuffer.resize(std::max(fBuffer.size() * 2, fUsed + n + (size_t{1} << 20)));
    return fBuffer.data() + fUsed;
  }
  void Commit(char* end) { fUsed = size_t(end - fBuffer.data()); }
  void Put(char c) {
    char* p = Reserve(1);
    *p++ = c;
    Commit(p);
  }
  void Put(std::string_view s) {
    char* p = Reserve(s.size());
    std::memcpy(p, s.data(), s.size());
    Commit(p + s.size());
  }

 private:
  static std::vector<char>& Scratch() {
    thread_local std::vector<char> scratch;
    return scratch;
  }

  std::string& fOut;
  std::vector<char>& fBuffer;
  size_t fUsed;
};

// Writes one number at p (at most 32 characters), shortest round-trip form.
// JSON has no NaN or infinity: NaN becomes 0, infinities the largest double.
template <class T>
char* WriteNumber(char* p, T v) {
  if (std::isnan(v)) v = 0;
  if (std::isinf(v)) return std::to_chars(p, p + 32, v > 0 ? 1e308 : -1e308).ptr;
  if (v == T(0)) {
    *p = '0';
    return p + 1;
  }
  return std::to_chars(p, p + 32, v).ptr;
}

char* WriteInt(char* p, long long v) { return std::to_chars(p, p + 24, v).ptr; }

// Formatted floats by bit pattern: map contents repeat a few values (counts,
// counts divided by the event count), so most are formatted only once.
class FloatCache {
 public:
  char* Write(char* p, float v) {
    std::uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    Entry& e = fEntries[(bits * 2654435761u) >> (32 - kLogSize)];
    if (e.length == 0 || e.bits != bits) {
      e.bits = bits;
      e.length = std::uint8_t(WriteNumber(e.text, v) - e.text);
    }
    std::memcpy(p, e.text, sizeof e.text);
    return p + e.length;
  }

 private:
  static constexpr int kLogSize = 10;
  struct Entry {
    std::uint32_t bits = 0;
    std::uint8_t length = 0;
    char text[32 - 5];
  };
  std::vector<Entry> fEntries = std::vector<Entry>(size_t{1} << kLogSize);
};

// Standard base64 of raw bytes, two output characters per 12 input bits.
class Base64 {
 public:
  static size_t EncodedSize(size_t bytes) { return (bytes + 2) / 3 * 4; }

  static char* Write(char* p, const unsigned char* in, size_t bytes) {
    static const Base64 table;
    size_t i = 0;
    for (; i + 3 <= bytes; i += 3) {
      const unsigned v = unsigned(in[i]) << 16 | unsigned(in[i + 1]) << 8 | in[i + 2];
      std::memcpy(p, table.fPairs[v >> 12], 2);
      std::memcpy(p + 2, table.fPairs[v & 0xfff], 2);
      p += 4;
    }
    if (i < bytes) {
      const bool two = i + 2 == bytes;
      const unsigned v = unsigned(in[i]) << 16 | (two ? unsigned(in[i + 1]) << 8 : 0u);
      std::memcpy(p, table.fPairs[v >> 12], 2);
      p[2] = two ? table.fPairs[v & 0xfff][0] : '=';
      p[3] = '=';
      p += 4;
    }
    return p;
  }

 private:
  Base64() {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (unsigned v = 0; v < 4096; ++v) {
      fPairs[v][0] = kAlphabet[v >> 6];
      fPairs[v][1] = kAlphabet[v & 63];
    }
  }
  char fPairs[4096][2];
};

}  // namespace

class JSONWriter {
 public:
  explicit JSONWriter(std::string& out, const PrimitiveText* instead = nullptr)
      : fSink(out), fInstead(instead) {}

  void Object(const TObject& obj) {
    if (auto* c = dynamic_cast<const TCanvas*>(&obj)) return Canvas(*c);
    if (auto* p = dynamic_cast<const TPad*>(&obj)) return Pad(*p, "TPad");
    if (auto* h = dynamic_cast<const TH1*>(&obj)) return Histogram(*h);
    if (auto* g = dynamic_cast<const TGraph*>(&obj)) return Graph(*g);
    if (auto* f = dynamic_cast<const TF1*>(&obj)) return Function(*f);
    if (auto* t = dynamic_cast<const TText*>(&obj)) return Text(*t);
    if (auto* l = dynamic_cast<const TList*>(&obj)) return List(*l);
    if (auto* a = dynamic_cast<const TAxis*>(&obj)) return Axis(*a);
    Begin(obj.ClassName());
    ObjectMembers(obj, ObjectBits(obj));
    if (auto* n = dynamic_cast<const TNamed*>(&obj)) NamedMembers(*n);
    End();
  }

 private:
  // ---- primitives ----
  void Key(std::string_view key) {
    char* p = fSink.Reserve(key.size() + 4);
    *p++ = ',';
    *p++ = '"';
    std::memcpy(p, key.data(), key.size());
    p += key.size();
    *p++ = '"';
    *p++ = ':';
    fSink.Commit(p);
  }
  template <class T>
  void Num(std::string_view key, T v) {
    Key(key);
    fSink.Commit(WriteNumber(fSink.Reserve(32), v));
  }
  void Int(std::string_view key, long long v) {
    Key(key);
    fSink.Commit(WriteInt(fSink.Reserve(24), v));
  }
  void Bool(std::string_view key, bool v) {
    Key(key);
    fSink.Put(v ? "true" : "false");
  }
  void Null(std::string_view key) {
    Key(key);
    fSink.Put("null");
  }
  void String(std::string_view s) {
    fSink.Put('"');
    for (char c : s) {
      const auto u = static_cast<unsigned char>(c);
      if (c == '"' || c == '\\') {
        fSink.Put('\\');
        fSink.Put(c);
      } else if (u < 0x20) {
        char esc[8];
        std::snprintf(esc, sizeof esc, "\\u%04x", u);
        fSink.Put(esc);
      } else {
        fSink.Put(c);
      }
    }
    fSink.Put('"');
  }
  void Str(std::string_view key, std::string_view s) {
    Key(key);
    String(s);
  }
  void Begin(std::string_view type) {
    fSink.Put("{\"_typename\":");
    String(type);
  }
  void End() { fSink.Put('}'); }

  template <class T>
  void PlainArray(const T* a, size_t n) {
    fSink.Put('[');
    for (size_t i = 0; i < n; ++i) {
      char* p = fSink.Reserve(33);
      if (i) *p++ = ',';
      fSink.Commit(WriteNumber(p, a[i]));
    }
    fSink.Put(']');
  }

  char* ArrayValue(char* p, float v) { return fFloats.Write(p, v); }
  char* ArrayValue(char* p, double v) { return WriteNumber(p, v); }

  // Segment keys: "p","v","n" for the first segment, then the same letters
  // with a base-62 segment number ("p1", ..., "pZ", "p10", ...); the reader
  // looks only at the first letter, the suffix keeps the keys unique.
  static char* SegmentKey(char* p, char letter, int segment) {
    static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    *p++ = ',';
    *p++ = '"';
    *p++ = letter;
    char digits[8];
    int count = 0;
    for (; segment > 0; segment /= 62) digits[count++] = kDigits[segment % 62];
    while (count > 0) *p++ = digits[--count];
    *p++ = '"';
    *p++ = ':';
    return p;
  }

  template <class T>
  void CompressedArray(const char* type, const T* a, size_t n) {
    if (n < size_t(kMinCompressed)) return PlainArray(a, n);
    fSink.Put("{\"$arr\":\"");
    fSink.Put(type);
    fSink.Put("\",\"len\":");
    fSink.Commit(WriteInt(fSink.Reserve(24), (long long)n));
    NonZeroScanner<T> scanner(a, n);
    if (scanner.SampledDensity() > kMaxSparseDensity) return Base64Array(a, n);
    size_t pos = 0;  // where the reader writes next
    int segment = 0;
    for (size_t i = scanner.Next(0); i < n; ++segment) {
      char* p = fSink.Reserve(100);
      if (i != pos) {
        p = SegmentKey(p, 'p', segment);
        p = WriteInt(p, (long long)i);
      }
      p = SegmentKey(p, 'v', segment);
      const size_t same = SameRun(a, i, n);
      if (same >= size_t(kMinSameRun)) {
        p = ArrayValue(p, a[i]);
        p = SegmentKey(p, 'n', segment);
        fSink.Commit(WriteInt(p, (long long)same));
        pos = i + same;
        i = scanner.Next(pos);
      } else {
        fSink.Commit(p);
        i = ValueSegment(scanner, a, i, n, pos);
      }
    }
    fSink.Put('}');
  }

  // The rest of a "$arr" object for a dense array: its raw little-endian
  // bytes in base64.
  template <class T>
  void Base64Array(const T* a, size_t n) {
    static_assert(std::endian::native == std::endian::little);
    const size_t bytes = n * sizeof(T);
    char* p = fSink.Reserve(Base64::EncodedSize(bytes) + 16);
    std::memcpy(p, ",\"b\":\"", 6);
    p = Base64::Write(p + 6, reinterpret_cast<const unsigned char*>(a), bytes);
    std::memcpy(p, "\"}", 2);
    fSink.Commit(p + 2);
  }

  template <class T>
  static size_t SameRun(const T* a, size_t i, size_t n) {
    size_t j = i + 1;
    while (j < n && a[j] == a[i]) ++j;
    return j - i;
  }

  // Writes the values from i (non-zero) up to a zero gap longer than
  // kMaxInlineZeros, a run of kMinSameRun equal values or the last non-zero
  // value, as a JSON array. Sets end to the index after the last value written
  // and returns the next non-zero index.
  template <class T>
  size_t ValueSegment(NonZeroScanner<T>& scanner, const T* a, size_t i, size_t n, size_t& end) {
    static const char kZeros[] =
        ",0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0";
    static_assert(sizeof kZeros > 2 * kMaxInlineZeros);
    char* p = fSink.Reserve(40);
    *p++ = '[';
    p = ArrayValue(p, a[i]);
    fSink.Commit(p);
    size_t next = scanner.Next(i + 1);
    while (next < n) {
      const size_t zeros = next - (i + 1);
      if (zeros > size_t(kMaxInlineZeros) || SameRun(a, next, n) >= size_t(kMinSameRun)) break;
      p = fSink.Reserve(2 * zeros + 40);
      std::memcpy(p, kZeros, 2 * zeros);
      p += 2 * zeros;
      *p++ = ',';
      fSink.Commit(ArrayValue(p, a[next]));
      i = next;
      next = scanner.Next(i + 1);
    }
    fSink.Put(']');
    end = i + 1;
    return next;
  }

  // ---- base classes ----
  static UInt_t ObjectBits(const TObject& obj) {
    UInt_t bits = 0;
    for (int b = 0; b < 32; ++b)
      if (obj.TestBit(UInt_t(1) << b)) bits |= UInt_t(1) << b;
    return bits;
  }
  void ObjectMembers(const TObject& obj, UInt_t bits) {
    Int("fUniqueID", obj.GetUniqueID());
    Int("fBits", bits);
  }
  void NamedMembers(const TNamed& n) {
    Str("fName", n.GetName());
    Str("fTitle", n.GetTitle());
  }
  void LineMembers(const TAttLine& a) {
    Int("fLineColor", a.GetLineColor());
    Int("fLineStyle", a.GetLineStyle());
    Int("fLineWidth", a.GetLineWidth());
  }
  void FillMembers(const TAttFill& a) {
    Int("fFillColor", a.GetFillColor());
    Int("fFillStyle", a.GetFillStyle());
  }
  void MarkerMembers(const TAttMarker& a) {
    Int("fMarkerColor", a.GetMarkerColor());
    Int("fMarkerStyle", a.GetMarkerStyle());
    Num("fMarkerSize", a.GetMarkerSize());
  }
  void TextMembers(const TAttText& a) {
    Num("fTextAngle", a.GetTextAngle());
    Num("fTextSize", a.GetTextSize());
    Int("fTextAlign", a.GetTextAlign());
    Int("fTextColor", a.GetTextColor());
    Int("fTextFont", a.GetTextFont());
  }
  void EmptyArray(std::string_view key) {
    Key(key);
    fSink.Put("[]");
  }

  // ---- classes ----
  // A list, or the primitives of `pad`: ROOT ignores "same" on the first
  // histogram of a pad that has no frame yet, so it is dropped here for the
  // renderer, and the primitives other than pads may be written as fInstead
  // says.
  void List(const TList& list, const TPad* pad = nullptr) {
    Begin("TList");
    Str("name", "TList");
    Key("arr");
    fSink.Put('[');
    TIter next(&list);
    int index = 0;
    while (TObject* obj = next()) {
      if (index) fSink.Put(',');
      if (pad && fInstead && !dynamic_cast<const TPad*>(obj))
        fSink.Put((*fInstead)(*pad, index, *obj));
      else
        Object(*obj);
      ++index;
    }
    fSink.Put(']');
    Key("opt");
    fSink.Put('[');
    TIter opts(&list);
    bool frame = false;
    bool first = true;
    while (TObject* obj = opts()) {
      if (!first) fSink.Put(',');
      std::string option = opts.GetOption();
      if (pad) frame = DrawnOption(*obj, option, frame);
      String(option);
      first = false;
    }
    fSink.Put(']');
    End();
  }

  // Adjusts the option of obj as drawn in a pad; returns whether the pad has a
  // frame after it.
  static bool DrawnOption(const TObject& obj, std::string& option, bool frame) {
    std::string lower = option;
    for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
    if (dynamic_cast<const TH1*>(&obj)) {
      const size_t same = lower.find("same");
      if (!frame && same != std::string::npos) option.erase(same, 4);
      return true;
    }
    if (dynamic_cast<const TGraph*>(&obj)) return frame || lower.find('a') != std::string::npos;
    return frame;
  }

  void Axis(const TAxis& a) {
    Begin("TAxis");
    ObjectMembers(a, ObjectBits(a));
    NamedMembers(a);
    Int("fNdivisions", a.GetNdivisions());
    Int("fAxisColor", a.GetAxisColor());
    Int("fLabelColor", a.GetLabelColor());
    Int("fLabelFont", a.GetLabelFont());
    Num("fLabelOffset", a.GetLabelOffset());
    Num("fLabelSize", a.GetLabelSize());
    Num("fTickLength", a.GetTickLength());
    Num("fTitleOffset", a.GetTitleOffset());
    Num("fTitleSize", a.GetTitleSize());
    Int("fTitleColor", a.GetTitleColor());
    Int("fTitleFont", a.GetTitleFont());
    Int("fNbins", a.GetNbins());
    Num("fXmin", a.GetXmin());
    Num("fXmax", a.GetXmax());
    EmptyArray("fXbins");
    const bool range = a.TestBit(TAxis::kAxisRange);
    Int("fFirst", range ? a.GetFirst() : 0);
    Int("fLast", range ? a.GetLast() : 0);
    Int("fBits2", 0);
    Bool("fTimeDisplay", a.GetTimeDisplay());
    Str("fTimeFormat", "");
    Null("fLabels");
    Null("fModLabs");
    End();
  }

  void Histogram(const TH1& h) {
    Begin(h.ClassName());
    UInt_t bits = ObjectBits(h);
    if (gStyle && gStyle->GetOptStat() == 0) bits |= TH1::kNoStats;
    ObjectMembers(h, bits);
    NamedMembers(h);
    LineMembers(h);
    FillMembers(h);
    MarkerMembers(h);
    Int("fNcells", h.fNcells);
    Key("fXaxis");
    Axis(h.fXaxis);
    Key("fYaxis");
    Axis(h.fYaxis);
    Key("fZaxis");
    Axis(h.fZaxis);
    Int("fBarOffset", h.fBarOffset);
    Int("fBarWidth", h.fBarWidth);
    Num("fEntries", h.fEntries);
    Num("fTsumw", h.fTsumw);
    Num("fTsumw2", h.fTsumw2);
    Num("fTsumwx", h.fTsumwx);
    Num("fTsumwx2", h.fTsumwx2);
    Num("fMaximum", h.fMaximum);
    Num("fMinimum", h.fMinimum);
    Num("fNormFactor", h.fNormFactor);
    Key("fContour");
    PlainArray(h.fContour.fArray, size_t(h.fContour.fN));
    Key("fSumw2");
    CompressedArray("Float64", h.fSumw2.fArray, size_t(h.fSumw2.fN));
    Str("fOption", h.fOption);
    Key("fFunctions");
    List(*h.fFunctions);
    Int("fBufferSize", 0);
    EmptyArray("fBuffer");
    Int("fBinStatErrOpt", 0);
    Int("fStatOverflows", 2);
    if (auto* h2 = dynamic_cast<const TH2*>(&h)) {
      Num("fScalefactor", h2->fScalefactor);
      Num("fTsumwy", h2->fTsumwy);
      Num("fTsumwy2", h2->fTsumwy2);
      Num("fTsumwxy", h2->fTsumwxy);
    }
    Key("fArray");
    if (auto* floats = dynamic_cast<const TArrayF*>(&h))
      CompressedArray("Float32", floats->fArray, size_t(floats->fN));
    else if (auto* doubles = dynamic_cast<const TArrayD*>(&h))
      CompressedArray("Float64", doubles->fArray, size_t(doubles->fN));
    else
      fSink.Put("[]");
    End();
  }

  void Graph(const TGraph& g) {
    Begin(g.ClassName());
    ObjectMembers(g, ObjectBits(g));
    NamedMembers(g);
    LineMembers(g);
    FillMembers(g);
    MarkerMembers(g);
    Int("fNpoints", g.fNpoints);
    Key("fX");
    PlainArray(g.fX.data(), g.fX.size());
    Key("fY");
    PlainArray(g.fY.data(), g.fY.size());
    Key("fFunctions");
    List(*g.fFunctions);
    Null("fHistogram");
    Num("fMinimum", g.fMinimum);
    Num("fMaximum", g.fMaximum);
    if (auto* ae = dynamic_cast<const TGraphAsymmErrors*>(&g)) {
      Key("fEXlow");
      PlainArray(ae->fEXlow.data(), ae->fEXlow.size());
      Key("fEXhigh");
      PlainArray(ae->fEXhigh.data(), ae->fEXhigh.size());
      Key("fEYlow");
      PlainArray(ae->fEYlow.data(), ae->fEYlow.size());
      Key("fEYhigh");
      PlainArray(ae->fEYhigh.data(), ae->fEYhigh.size());
    }
    End();
  }

  void Function(const TF1& f) {
    Begin("TF1");
    ObjectMembers(f, ObjectBits(f));
    Str("fName", f.GetName());
    Str("fTitle", f.fFormula);
    LineMembers(f);
    FillMembers(f);
    MarkerMembers(f);
    Num("fXmin", f.fXmin);
    Num("fXmax", f.fXmax);
    Int("fNpar", f.GetNpar());
    Int("fNdim", 1);
    Int("fNpx", f.fNpx);
    Int("fType", 0);
    Int("fNpfits", f.fNDF + f.GetNpar());
    Int("fNDF", f.fNDF);
    Num("fChisquare", f.fChisquare);
    Num("fMinimum", -1111.0);
    Num("fMaximum", -1111.0);
    Key("fParErrors");
    PlainArray(f.fParErrors.data(), f.fParErrors.size());
    Key("fParMin");
    PlainArray(f.fParMin.data(), f.fParMin.size());
    Key("fParMax");
    PlainArray(f.fParMax.data(), f.fParMax.size());
    EmptyArray("fSave");
    Null("fHistogram");
    Key("fParams");
    Begin("TF1Parameters");
    Key("fParameters");
    PlainArray(f.fParams.data(), f.fParams.size());
    Key("fParNames");
    fSink.Put('[');
    for (size_t i = 0; i < f.fNames.size(); ++i) {
      if (i) fSink.Put(',');
      String(f.fNames[i]);
    }
    fSink.Put(']');
    End();
    End();
  }

  void Text(const TText& t) {
    const auto* latex = dynamic_cast<const TLatex*>(&t);
    Begin(latex ? "TLatex" : "TText");
    ObjectMembers(t, ObjectBits(t));
    NamedMembers(t);
    TextMembers(t);
    Num("fX", t.GetX());
    Num("fY", t.GetY());
    if (latex) {
      LineMembers(*latex);
      Num("fLimitFactorSize", latex->GetLimitFactorSize());
      Num("fOriginSize", latex->GetOriginSize());
    }
    End();
  }

  void PadMembers(const TPad& p) {
    ObjectMembers(p, ObjectBits(p));
    LineMembers(p);
    FillMembers(p);
    Num("fLeftMargin", p.GetLeftMargin());
    Num("fRightMargin", p.GetRightMargin());
    Num("fBottomMargin", p.GetBottomMargin());
    Num("fTopMargin", p.GetTopMargin());
    Int("fFrameFillColor", p.GetFrameFillColor());
    Int("fFrameLineColor", p.GetFrameLineColor());
    Int("fFrameFillStyle", p.GetFrameFillStyle());
    Int("fFrameLineStyle", p.GetFrameLineStyle());
    Int("fFrameLineWidth", p.GetFrameLineWidth());
    Int("fFrameBorderSize", p.GetFrameBorderSize());
    Int("fFrameBorderMode", p.GetFrameBorderMode());
    Int("fX1", 0);
    Int("fY1", 0);
    Int("fX2", 1);
    Int("fY2", 1);
    Num("fXlowNDC", p.fXlowNDC);
    Num("fYlowNDC", p.fYlowNDC);
    Num("fXUpNDC", p.fXUpNDC);
    Num("fYUpNDC", p.fYUpNDC);
    Num("fWNDC", p.fWNDC);
    Num("fHNDC", p.fHNDC);
    Num("fAbsXlowNDC", p.fAbsXlowNDC);
    Num("fAbsYlowNDC", p.fAbsYlowNDC);
    Num("fAbsWNDC", p.fAbsWNDC);
    Num("fAbsHNDC", p.fAbsHNDC);
    Int("fUxmin", 0);
    Int("fUymin", 0);
    Int("fUxmax", 0);
    Int("fUymax", 0);
    Int("fTheta", 30);
    Int("fPhi", 30);
    Int("fAspectRatio", 0);
    Int("fNumber", p.fNumber);
    Int("fTickx", p.fTickx);
    Int("fTicky", p.fTicky);
    Int("fLogx", p.fLogx);
    Int("fLogy", p.fLogy);
    Int("fLogz", p.fLogz);
    Int("fBorderSize", p.fBorderSize);
    Int("fBorderMode", p.fBorderMode);
    Bool("fModified", p.fModified);
    Bool("fGridx", p.fGridx);
    Bool("fGridy", p.fGridy);
    Bool("fEditable", p.fEditable);
    Key("fPrimitives");
    List(*p.fPrimitives, &p);
    Null("fExecs");
    Str("fName", p.fName);
    Str("fTitle", p.fTitle);
  }

  void Pad(const TPad& p, const char* type) {
    Begin(type);
    PadMembers(p);
    End();
  }

  void Canvas(const TCanvas& c) {
    Begin("TCanvas");
    PadMembers(c);
    Int("fWindowWidth", c.fCw);
    Int("fWindowHeight", c.fCh);
    Int("fCw", c.fCw);
    Int("fCh", c.fCh);
    Int("fHighLightColor", 2);
    Bool("fBatch", true);
    End();
  }

  Sink fSink;
  FloatCache fFloats;
  const PrimitiveText* fInstead;
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

}  // namespace rootcompat
