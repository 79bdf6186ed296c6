// Float and double arrays with bounds-checked element access.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include <sys/mman.h>

#include "TArrayD.h"
#include "TArrayF.h"
#include "TError.h"

namespace {

// Arrays of several megabytes (hit maps) ask for transparent huge pages, so
// that their first touches fault in 2 MB at a time rather than 4 kB.
void AdviseHugePages(void* storage, std::size_t bytes) {
  constexpr std::size_t kHugePage = std::size_t{2} << 20;
  if (bytes < 4 * kHugePage) return;
  const auto begin = (reinterpret_cast<std::uintptr_t>(storage) + kHugePage - 1) & ~(kHugePage - 1);
  const auto end = (reinterpret_cast<std::uintptr_t>(storage) + bytes) & ~(kHugePage - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

// Zeroed storage from calloc: large arrays (a hit map is 19 MB) come as fresh
// zero pages that the kernel maps on first touch, so booking and cloning do
// not pay for writing zeros first.
template <class T>
T* Allocate(Int_t n) {
  if (n <= 0) return nullptr;
  void* storage = std::calloc(std::size_t(n), sizeof(T));
  if (!storage) throw std::bad_alloc();
  AdviseHugePages(storage, sizeof(T) * std::size_t(n));
  return static_cast<T*>(storage);
}

// Whole-array passes work in blocks of this many bytes and skip blocks that
// hold only zero bits: an untouched page of a fresh array is then only read,
// never written, and a mostly empty hit map is copied or cleared at the cost
// of reading it.
constexpr std::size_t kBlockBytes = 256;

bool AllZeroBits(const unsigned char* bytes, std::size_t n) {
  std::uint64_t bits = 0;
  for (std::size_t i = 0; i + sizeof bits <= n; i += sizeof bits) {
    std::uint64_t word;
    std::memcpy(&word, bytes + i, sizeof word);
    bits |= word;
  }
  for (std::size_t i = n / sizeof bits * sizeof bits; i < n; ++i) bits |= bytes[i];
  return bits == 0;
}

// Copies `n` values into `zeroed`, whose values are all zero already.
template <class T>
void CopyIntoZeroed(T* zeroed, const T* source, Int_t n) {
  auto* to = reinterpret_cast<unsigned char*>(zeroed);
  const auto* from = reinterpret_cast<const unsigned char*>(source);
  const std::size_t bytes = sizeof(T) * std::size_t(n);
  for (std::size_t at = 0; at < bytes; at += kBlockBytes) {
    const std::size_t length = std::min(kBlockBytes, bytes - at);
    if (!AllZeroBits(from + at, length)) std::memcpy(to + at, from + at, length);
  }
}

template <class T>
void Fill(T* array, Int_t n, T value) {
  if (value != T(0) || std::signbit(value)) {
    std::fill(array, array + n, value);
    return;
  }
  auto* bytes = reinterpret_cast<unsigned char*>(array);
  const std::size_t total = sizeof(T) * std::size_t(n);
  for (std::size_t at = 0; at < total; at += kBlockBytes) {
    const std::size_t length = std::min(kBlockBytes, total - at);
    if (!AllZeroBits(bytes + at, length)) std::memset(bytes + at, 0, length);
  }
}

bool BoundsOk(const char* where, Int_t i, Int_t n) {
  if (i >= 0 && i < n) return true;
  Error(where, "index %d out of bounds (size: %d)", i, n);
  return false;
}

}  // namespace

TArrayF::TArrayF(Int_t n) : TArray(n), fArray(Allocate<Float_t>(fN)) {}

TArrayF::TArrayF(const TArrayF& array) : TArray(array.fN), fArray(Allocate<Float_t>(fN)) {
  CopyIntoZeroed(fArray, array.fArray, fN);
}

TArrayF& TArrayF::operator=(const TArrayF& rhs) {
  if (this != &rhs) rhs.Copy(*this);
  return *this;
}

TArrayF::~TArrayF() { std::free(fArray); }

void TArrayF::AddAt(Float_t c, Int_t i) {
  if (BoundsOk("TArrayF::AddAt", i, fN)) fArray[i] = c;
}

Float_t TArrayF::At(Int_t i) const { return BoundsOk("TArrayF::At", i, fN) ? fArray[i] : 0; }

void TArrayF::Copy(TArrayF& array) const {
  // Set gives an array of another size fresh zeroed storage, into which only
  // the non-zero blocks need writing.
  const bool fresh = array.fN != fN;
  array.Set(fN);
  if (fresh)
    CopyIntoZeroed(array.fArray, fArray, fN);
  else if (fN)
    std::memcpy(array.fArray, fArray, sizeof(Float_t) * fN);
}

Double_t TArrayF::GetSum() const {
  Double_t sum = 0;
  for (Int_t i = 0; i < fN; ++i) sum += fArray[i];
  return sum;
}

void TArrayF::Reset(Float_t val) { Fill(fArray, fN, val); }

void TArrayF::Set(Int_t n) {
  if (n < 0 || n == fN) return;
  Float_t* grown = Allocate<Float_t>(n);
  if (fArray && grown) std::memcpy(grown, fArray, sizeof(Float_t) * std::min(n, fN));
  std::free(fArray);
  fArray = grown;
  fN = n;
}

TArrayD::TArrayD(Int_t n) : TArray(n), fArray(Allocate<Double_t>(fN)) {}

TArrayD::TArrayD(const TArrayD& array) : TArray(array.fN), fArray(Allocate<Double_t>(fN)) {
  CopyIntoZeroed(fArray, array.fArray, fN);
}

TArrayD& TArrayD::operator=(const TArrayD& rhs) {
  if (this != &rhs) rhs.Copy(*this);
  return *this;
}

TArrayD::~TArrayD() { std::free(fArray); }

void TArrayD::AddAt(Double_t c, Int_t i) {
  if (BoundsOk("TArrayD::AddAt", i, fN)) fArray[i] = c;
}

Double_t TArrayD::At(Int_t i) const { return BoundsOk("TArrayD::At", i, fN) ? fArray[i] : 0; }

void TArrayD::Copy(TArrayD& array) const {
  // Set gives an array of another size fresh zeroed storage, into which only
  // the non-zero blocks need writing.
  const bool fresh = array.fN != fN;
  array.Set(fN);
  if (fresh)
    CopyIntoZeroed(array.fArray, fArray, fN);
  else if (fN)
    std::memcpy(array.fArray, fArray, sizeof(Double_t) * fN);
}

Double_t TArrayD::GetSum() const {
  Double_t sum = 0;
  for (Int_t i = 0; i < fN; ++i) sum += fArray[i];
  return sum;
}

void TArrayD::Reset(Double_t val) { Fill(fArray, fN, val); }

void TArrayD::Set(Int_t n) {
  if (n < 0 || n == fN) return;
  Double_t* grown = Allocate<Double_t>(n);
  if (fArray && grown) std::memcpy(grown, fArray, sizeof(Double_t) * std::min(n, fN));
  std::free(fArray);
  fArray = grown;
  fN = n;
}
