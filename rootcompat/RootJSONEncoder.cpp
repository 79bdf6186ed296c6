#include "RootJSONEncoder.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <concepts>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <type_traits>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
    if constexpr (std::is_same_v<T, float>) {
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

}  // namespace

// The output buffer and the cache of formatted floats, with the array
// writers that use both.
class JSONEncoder::Output {
 public:
  explicit Output(std::string& out) : fSink(out) {}

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

  template <class T>
  void CompressedArray(const T* a, size_t n) {
    CompressedArray(sizeof(T) == 4 ? "Float32" : "Float64", a, n);
  }

  // The elements as the narrowest unsigned type that holds the largest, or
  // as stored when one is not a whole number from 0 to 2^32 - 1.
  template <class T>
  void CountArray(const T* a, size_t n) {
    if (n < size_t(kMinCompressed)) return PlainArray(a, n);
    std::uint32_t largest = 0;
    for (size_t i = 0; i < n; ++i) {
      if (!(a[i] >= 0 && a[i] < T(4294967296.0))) return CompressedArray(a, n);
      const auto count = std::uint32_t(a[i]);
      if (T(count) != a[i]) return CompressedArray(a, n);
      largest = std::max(largest, count);
    }
    if (largest <= 0xff) return Counts<std::uint8_t>("Uint8", a, n);
    if (largest <= 0xffff) return Counts<std::uint16_t>("Uint16", a, n);
    Counts<std::uint32_t>("Uint32", a, n);
  }

  Sink fSink;

 private:
  char* ArrayValue(char* p, float v) { return fFloats.Write(p, v); }
  char* ArrayValue(char* p, double v) { return WriteNumber(p, v); }
  template <std::unsigned_integral U>
  char* ArrayValue(char* p, U v) {
    return WriteInt(p, (long long)v);
  }

  // Whole counts in `a`, each converted to U, as a "$arr" of `type`. Dense
  // counts go in base64 unless their decimal digits are no longer: maps of
  // small counts with a few large ones (a recent map of a noisy run: 178 kB
  // of base64, 134 kB of digits) are shorter, and compress faster, as text.
  template <class U, class T>
  void Counts(const char* type, const T* a, size_t n) {
    std::vector<U> counts(n);
    size_t digits = 0;
    for (size_t i = 0; i < n; ++i) {
      counts[i] = U(a[i]);
      digits += DecimalLength(counts[i]) + 1;
    }
    CompressedArray(type, counts.data(), n, digits > Base64::EncodedSize(n * sizeof(U)));
  }

  template <std::unsigned_integral U>
  static size_t DecimalLength(U v) {
    size_t length = 1;
    for (; v >= 10; v /= 10) ++length;
    return length;
  }

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
  void CompressedArray(const char* type, const T* a, size_t n, bool base64_when_dense = true) {
    if (n < size_t(kMinCompressed)) return PlainArray(a, n);
    fSink.Put("{\"$arr\":\"");
    fSink.Put(type);
    fSink.Put("\",\"len\":");
    fSink.Commit(WriteInt(fSink.Reserve(24), (long long)n));
    NonZeroScanner<T> scanner(a, n);
    if (base64_when_dense && scanner.SampledDensity() > kMaxSparseDensity) return Base64Array(a, n);
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

  FloatCache fFloats;
};

JSONEncoder::JSONEncoder(std::string& out) : fOutput(std::make_unique<Output>(out)) {}

JSONEncoder::~JSONEncoder() = default;

void JSONEncoder::Begin(std::string_view type) {
  fOutput->fSink.Put("{\"_typename\":");
  String(type);
}

void JSONEncoder::End() { fOutput->fSink.Put('}'); }

void JSONEncoder::Key(std::string_view key) {
  Sink& sink = fOutput->fSink;
  char* p = sink.Reserve(key.size() + 4);
  *p++ = ',';
  *p++ = '"';
  std::memcpy(p, key.data(), key.size());
  p += key.size();
  *p++ = '"';
  *p++ = ':';
  sink.Commit(p);
}

void JSONEncoder::Num(std::string_view key, float v) {
  Key(key);
  fOutput->fSink.Commit(WriteNumber(fOutput->fSink.Reserve(32), v));
}

void JSONEncoder::Num(std::string_view key, double v) {
  Key(key);
  fOutput->fSink.Commit(WriteNumber(fOutput->fSink.Reserve(32), v));
}

void JSONEncoder::Int(std::string_view key, long long v) {
  Key(key);
  fOutput->fSink.Commit(WriteInt(fOutput->fSink.Reserve(24), v));
}

void JSONEncoder::Bool(std::string_view key, bool v) {
  Key(key);
  fOutput->fSink.Put(v ? "true" : "false");
}

void JSONEncoder::Null(std::string_view key) {
  Key(key);
  fOutput->fSink.Put("null");
}

void JSONEncoder::Str(std::string_view key, std::string_view s) {
  Key(key);
  String(s);
}

void JSONEncoder::EmptyArray(std::string_view key) {
  Key(key);
  fOutput->fSink.Put("[]");
}

void JSONEncoder::String(std::string_view s) {
  Sink& sink = fOutput->fSink;
  sink.Put('"');
  for (char c : s) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      sink.Put('\\');
      sink.Put(c);
    } else if (u < 0x20) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", u);
      sink.Put(esc);
    } else {
      sink.Put(c);
    }
  }
  sink.Put('"');
}

void JSONEncoder::PlainArray(const double* a, std::size_t n) { fOutput->PlainArray(a, n); }

void JSONEncoder::CompressedArray(const float* a, std::size_t n) { fOutput->CompressedArray(a, n); }

void JSONEncoder::CompressedArray(const double* a, std::size_t n) { fOutput->CompressedArray(a, n); }

void JSONEncoder::CountArray(const float* a, std::size_t n) { fOutput->CountArray(a, n); }

void JSONEncoder::CountArray(const double* a, std::size_t n) { fOutput->CountArray(a, n); }

void JSONEncoder::Put(std::string_view text) { fOutput->fSink.Put(text); }

}  // namespace rootcompat
