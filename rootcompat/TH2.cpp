#include "TH2.h"

#include <cctype>
#include <cmath>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "TList.h"
#include "TROOT.h"

namespace {

constexpr Long64_t kMaxInt = INT_MAX;

// Sums of contents (and squared errors) of one projection, per output bin.
struct ProjectionSums {
  std::vector<Double_t> content;
  std::vector<Double_t> error2;
};

// Adds cells (x, y) for y in [first, last] (onX) or x in [first, last] into
// per-output-bin sums, walking the storage in memory order.
template <class T>
void SumCells(const T* cells, const Double_t* sumw2, Int_t nx2, bool onX, Int_t first, Int_t last, bool errors,
              ProjectionSums& sums) {
  if (onX) {
    for (Int_t y = first; y <= last; ++y) {
      const Int_t row = y * nx2;
      for (Int_t x = 0; x < nx2; ++x) sums.content[x] += Double_t(cells[row + x]);
      if (!errors) continue;
      for (Int_t x = 0; x < nx2; ++x)
        sums.error2[x] += sumw2 ? sumw2[row + x] : std::fabs(Double_t(cells[row + x]));
    }
    return;
  }
  const Int_t ny2 = Int_t(sums.content.size());
  for (Int_t y = 0; y < ny2; ++y) {
    const Int_t row = y * nx2;
    Double_t cont = 0;
    Double_t err2 = 0;
    for (Int_t x = first; x <= last; ++x) {
      cont += Double_t(cells[row + x]);
      if (errors) err2 += sumw2 ? sumw2[row + x] : std::fabs(Double_t(cells[row + x]));
    }
    sums.content[y] = cont;
    sums.error2[y] = err2;
  }
}

}  // namespace

TH2::TH2() : fScalefactor(1), fTsumwy(0), fTsumwy2(0), fTsumwxy(0) {
  fDimension = 2;
  fNcells = 9;
}

TH2::TH2(const char* name, const char* title, Int_t nbinsx, Double_t xlow, Double_t xup, Int_t nbinsy,
         Double_t ylow, Double_t yup)
    : TH1(name, title, nbinsx, xlow, xup), fScalefactor(1), fTsumwy(0), fTsumwy2(0), fTsumwxy(0) {
  fDimension = 2;
  if (nbinsy <= 0) {
    Warning("TH2", "nbinsy is <=0 - set to nbinsy = 1");
    nbinsy = 1;
  }
  const Long64_t maxRows = Long64_t(kMaxInt) / (fXaxis.GetNbins() + 2) - 2;
  if (nbinsy > maxRows) {
    Error("TH2", "%d x %d bins do not fit in one array - set to nbinsy = %lld", fXaxis.GetNbins(), nbinsy, maxRows);
    nbinsy = Int_t(maxRows > 0 ? maxRows : 1);
  }
  fYaxis.Set(nbinsy, ylow, yup);
  fNcells = (fXaxis.GetNbins() + 2) * (fYaxis.GetNbins() + 2);
}

void TH2::Copy(TObject& obj) const {
  TH1::Copy(obj);
  auto& h = static_cast<TH2&>(obj);
  h.fScalefactor = fScalefactor;
  h.fTsumwy = fTsumwy;
  h.fTsumwy2 = fTsumwy2;
  h.fTsumwxy = fTsumwxy;
}

Int_t TH2::Fill(Double_t) {
  Error("Fill", "Invalid signature - do nothing");
  return -1;
}

Int_t TH2::Fill(Double_t x, Double_t y) {
  fEntries++;
  const Int_t binx = fXaxis.FindBin(x);
  const Int_t biny = fYaxis.FindBin(y);
  const Int_t bin = biny * (fXaxis.GetNbins() + 2) + binx;
  AddBinContent(bin);
  if (fSumw2.fN) ++fSumw2.fArray[bin];
  if ((binx == 0 || binx > fXaxis.GetNbins() || biny == 0 || biny > fYaxis.GetNbins()) && !fgStatOverflows)
    return -1;
  ++fTsumw;
  ++fTsumw2;
  fTsumwx += x;
  fTsumwx2 += x * x;
  fTsumwy += y;
  fTsumwy2 += y * y;
  fTsumwxy += x * y;
  return bin;
}

Int_t TH2::Fill(Double_t x, Double_t y, Double_t w) {
  fEntries++;
  const Int_t binx = fXaxis.FindBin(x);
  const Int_t biny = fYaxis.FindBin(y);
  const Int_t bin = biny * (fXaxis.GetNbins() + 2) + binx;
  if (!fSumw2.fN && w != 1.0) Sumw2();
  if (fSumw2.fN) fSumw2.fArray[bin] += w * w;
  AddBinContent(bin, w);
  if ((binx == 0 || binx > fXaxis.GetNbins() || biny == 0 || biny > fYaxis.GetNbins()) && !fgStatOverflows)
    return -1;
  const Double_t z = w > 0 ? w : -w;
  fTsumw += z;
  fTsumw2 += z * z;
  fTsumwx += z * x;
  fTsumwx2 += z * x * x;
  fTsumwy += z * y;
  fTsumwy2 += z * y * y;
  fTsumwxy += z * x * y;
  return bin;
}

Int_t TH2::FindBin(Double_t x, Double_t y, Double_t) {
  return GetBin(fXaxis.FindBin(x), fYaxis.FindBin(y));
}

void TH2::GetStats(Double_t* stats) const {
  const bool xrange = fXaxis.TestBit(TAxis::kAxisRange);
  const bool yrange = fYaxis.TestBit(TAxis::kAxisRange);
  if (!((fTsumw == 0 && fEntries > 0) || xrange || yrange)) {
    stats[0] = fTsumw;
    stats[1] = fTsumw2;
    stats[2] = fTsumwx;
    stats[3] = fTsumwx2;
    stats[4] = fTsumwy;
    stats[5] = fTsumwy2;
    stats[6] = fTsumwxy;
    return;
  }
  for (Int_t i = 0; i < 7; ++i) stats[i] = 0;
  Int_t firstBinX = fXaxis.GetFirst();
  Int_t lastBinX = fXaxis.GetLast();
  Int_t firstBinY = fYaxis.GetFirst();
  Int_t lastBinY = fYaxis.GetLast();
  if (fgStatOverflows) {
    if (!xrange) {
      if (firstBinX == 1) firstBinX = 0;
      if (lastBinX == fXaxis.GetNbins()) lastBinX += 1;
    }
    if (!yrange) {
      if (firstBinY == 1) firstBinY = 0;
      if (lastBinY == fYaxis.GetNbins()) lastBinY += 1;
    }
  }
  for (Int_t biny = firstBinY; biny <= lastBinY; ++biny) {
    const Double_t y = fYaxis.GetBinCenter(biny);
    for (Int_t binx = firstBinX; binx <= lastBinX; ++binx) {
      const Int_t bin = GetBin(binx, biny);
      const Double_t x = fXaxis.GetBinCenter(binx);
      const Double_t w = std::fabs(RetrieveBinContent(bin));
      const Double_t err = GetBinError(bin);
      stats[0] += w;
      stats[1] += err * err;
      stats[2] += w * x;
      stats[3] += w * x * x;
      stats[4] += w * y;
      stats[5] += w * y * y;
      stats[6] += w * x * y;
    }
  }
}

void TH2::PutStats(Double_t* stats) {
  TH1::PutStats(stats);
  fTsumwy = stats[4];
  fTsumwy2 = stats[5];
  fTsumwxy = stats[6];
}

void TH2::Reset(Option_t* option) {
  TH1::Reset(option);
  fTsumwy = 0;
  fTsumwy2 = 0;
  fTsumwxy = 0;
}

Double_t TH2::Integral(Option_t* option) const {
  return Integral(fXaxis.GetFirst(), fXaxis.GetLast(), fYaxis.GetFirst(), fYaxis.GetLast(), option);
}

Double_t TH2::Integral(Int_t binx1, Int_t binx2, Option_t* option) const {
  return Integral(binx1, binx2, 0, -1, option);
}

Double_t TH2::Integral(Int_t binx1, Int_t binx2, Int_t biny1, Int_t biny2, Option_t* option) const {
  const Int_t nbinsx = fXaxis.GetNbins() + 2;
  const Int_t nbinsy = fYaxis.GetNbins() + 2;
  if (binx1 < 0) binx1 = 0;
  if (binx2 >= nbinsx || binx2 < binx1) binx2 = nbinsx - 1;
  if (biny1 < 0) biny1 = 0;
  if (biny2 >= nbinsy || biny2 < biny1) biny2 = nbinsy - 1;
  const bool width = option && std::strstr(option, "width");
  Double_t sum = 0;
  for (Int_t biny = biny1; biny <= biny2; ++biny)
    for (Int_t binx = binx1; binx <= binx2; ++binx) {
      const Double_t w = width ? fXaxis.GetBinWidth(binx) * fYaxis.GetBinWidth(biny) : 1.0;
      sum += RetrieveBinContent(binx + nbinsx * biny) * w;
    }
  return sum;
}

TH1D* TH2::ProjectionX(const char* name, Int_t firstybin, Int_t lastybin, Option_t* option) const {
  return DoProjection(true, name, firstybin, lastybin, option);
}

TH1D* TH2::ProjectionY(const char* name, Int_t firstxbin, Int_t lastxbin, Option_t* option) const {
  return DoProjection(false, name, firstxbin, lastxbin, option);
}

// ROOT's TH2::DoProjection, step by step: the range summed, the histogram
// filled (an existing one of that name reset, else a new one), its contents
// and its statistics.
TH1D* TH2::DoProjection(bool onX, const char* name, Int_t firstbin, Int_t lastbin, Option_t* option) const {
  const TAxis& outAxis = onX ? fXaxis : fYaxis;
  const TAxis& inAxis = onX ? fYaxis : fXaxis;
  ClampProjectionRange(inAxis, firstbin, lastbin);
  std::string pname = name ? name : "";
  if (pname == (onX ? "_px" : "_py")) pname = GetName() + pname;
  std::string opt = option ? option : "";
  for (char& c : opt) c = char(std::tolower(static_cast<unsigned char>(c)));
  TH1D* h1 = ProjectionTarget(pname, outAxis, opt.find('e') != std::string::npos);
  if (!h1) return nullptr;
  CopyProjectionStyle(*h1, outAxis);
  const Double_t total = FillProjection(*h1, onX, firstbin, lastbin);
  SetProjectionStats(*h1, onX, firstbin, lastbin, total);
  return h1;
}

// 0..-1 (any last before first) means every bin, under- and overflow too,
// unless the summed axis has a range set, which then applies.
void TH2::ClampProjectionRange(const TAxis& inAxis, Int_t& firstbin, Int_t& lastbin) {
  const Int_t inNbin = inAxis.GetNbins();
  if (lastbin < firstbin && inAxis.TestBit(TAxis::kAxisRange)) {
    firstbin = inAxis.GetFirst();
    lastbin = inAxis.GetLast();
  }
  if (firstbin < 0) firstbin = 0;
  if (lastbin < 0 || lastbin > inNbin + 1) lastbin = inNbin + 1;
}

// An existing TH1D of that name is reset and refilled, as ROOT does; one of
// another class or with other axes is refused with an error. A new one spans
// the projected axis's range and keeps errors when asked or when this
// histogram has them.
TH1D* TH2::ProjectionTarget(const std::string& name, const TAxis& outAxis, bool errors) const {
  const Int_t first = outAxis.GetFirst();
  const Int_t last = outAxis.GetLast();
  if (auto* hist = dynamic_cast<TH1*>(gROOT->FindObject(name.c_str()))) {
    auto* h1 = dynamic_cast<TH1D*>(hist);
    if (!h1) {
      Error("DoProjection", "Histogram with name %s must be a TH1D and is a %s", name.c_str(), hist->ClassName());
      return nullptr;
    }
    if (h1->GetNbinsX() != last - first + 1 || h1->GetXaxis()->GetXmin() != outAxis.GetBinLowEdge(first) ||
        h1->GetXaxis()->GetXmax() != outAxis.GetBinUpEdge(last)) {
      Error("DoProjection", "Histogram %s has incompatible axes", name.c_str());
      return nullptr;
    }
    h1->Reset();
    return h1;
  }
  auto* h1 = new TH1D(name.c_str(), GetTitle(), last - first + 1, outAxis.GetBinLowEdge(first),
                      outAxis.GetBinUpEdge(last));
  if (errors || GetSumw2N()) h1->Sumw2();
  return h1;
}

void TH2::CopyProjectionStyle(TH1D& h1, const TAxis& outAxis) const {
  static_cast<const TAttAxis&>(outAxis).Copy(*h1.GetXaxis());
  h1.GetXaxis()->SetTitle(outAxis.GetTitle());
  h1.SetLineColor(GetLineColor());
  h1.SetFillColor(GetFillColor());
  h1.SetMarkerColor(GetMarkerColor());
  h1.SetMarkerStyle(GetMarkerStyle());
}

// Sums the cells of bins firstbin..lastbin of the other axis into h1, with
// their errors when h1 keeps them; returns the total content put in.
Double_t TH2::FillProjection(TH1D& h1, bool onX, Int_t firstbin, Int_t lastbin) const {
  const TAxis& outAxis = onX ? fXaxis : fYaxis;
  const bool computeErrors = h1.GetSumw2N() != 0;
  const Int_t nx2 = fXaxis.GetNbins() + 2;
  const Int_t nout2 = outAxis.GetNbins() + 2;
  ProjectionSums sums{std::vector<Double_t>(nout2, 0.0), std::vector<Double_t>(nout2, 0.0)};
  const Double_t* sumw2 = fSumw2.fN ? fSumw2.fArray : nullptr;
  if (auto* floats = dynamic_cast<const TArrayF*>(this))
    SumCells(floats->fArray, sumw2, nx2, onX, firstbin, lastbin, computeErrors, sums);
  else if (auto* doubles = dynamic_cast<const TArrayD*>(this))
    SumCells(doubles->fArray, sumw2, nx2, onX, firstbin, lastbin, computeErrors, sums);

  const Int_t firstOutBin = outAxis.GetFirst();
  const Int_t lastOutBin = outAxis.GetLast();
  Double_t total = 0;
  for (Int_t outbin = 0; outbin < nout2; ++outbin) {
    if (outAxis.TestBit(TAxis::kAxisRange) && (outbin < firstOutBin || outbin > lastOutBin)) continue;
    const Int_t binOut = h1.GetXaxis()->FindBin(outAxis.GetBinCenter(outbin));
    h1.SetBinContent(binOut, sums.content[outbin]);
    if (computeErrors) h1.SetBinError(binOut, std::sqrt(sums.error2[outbin]));
    total += sums.content[outbin];
  }
  return total;
}

// The statistics are this histogram's own when the whole other axis was
// summed (or the contents add up to its sum of weights); otherwise they are
// recomputed from h1's bins. The entries are kept only for a projection of
// every bin; otherwise they are the total content, rounded, or the effective
// entries when h1 has errors.
void TH2::SetProjectionStats(TH1D& h1, bool onX, Int_t firstbin, Int_t lastbin, Double_t total) const {
  const Int_t inNbin = (onX ? fYaxis : fXaxis).GetNbins();
  bool reuseStats = (!fgStatOverflows && firstbin == 1 && lastbin == inNbin) ||
                    (fgStatOverflows && firstbin == 0 && lastbin == inNbin + 1);
  if (!reuseStats) {
    const double eps = dynamic_cast<const TArrayF*>(this) ? 1.E-6 : 1.E-12;
    if (fTsumw != 0 && std::fabs(fTsumw - total) < std::fabs(fTsumw) * eps) reuseStats = true;
  }
  const bool reuseEntries = reuseStats && firstbin == 0 && lastbin == inNbin + 1;
  if (reuseStats) {
    Double_t stats[kNstat] = {};
    GetStats(stats);
    if (!onX) {
      stats[2] = stats[4];
      stats[3] = stats[5];
    }
    h1.PutStats(stats);
  } else {
    h1.SetEntries(h1.GetEffectiveEntries());
  }
  if (reuseEntries) {
    h1.SetEntries(fEntries);
  } else {
    Double_t entries = std::floor(total + 0.5);
    if (h1.GetSumw2N()) entries = h1.GetEffectiveEntries();
    h1.SetEntries(entries);
  }
}

TH2F::TH2F() { TArrayF::Set(fNcells); }

TH2F::TH2F(const char* name, const char* title, Int_t nbinsx, Double_t xlow, Double_t xup, Int_t nbinsy,
           Double_t ylow, Double_t yup)
    : TH2(name, title, nbinsx, xlow, xup, nbinsy, ylow, yup) {
  TArrayF::Set(fNcells);
}

TH2F::TH2F(const TH2F& h2f) : TH2(), TArrayF() { h2f.TH2F::Copy(*this); }

TH2F& TH2F::operator=(const TH2F& h2f) {
  if (this != &h2f) h2f.TH2F::Copy(*this);
  return *this;
}

TObject* TH2F::Clone(const char* newname) const { return FinishClone(new TH2F(*this), newname); }

void TH2F::Copy(TObject& hnew) const {
  TH2::Copy(hnew);
  TArrayF::Copy(static_cast<TH2F&>(hnew));
}

void TH2F::Reset(Option_t* option) {
  TH2::Reset(option);
  TArrayF::Reset();
}
