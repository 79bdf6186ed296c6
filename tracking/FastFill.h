// Filling a float histogram of uniform bins without TH1::Fill: the bin is
// found as TAxis::FindBin finds it and its content raised in place, while
// the entries (and, in one dimension, ROOT's statistics sums) are kept
// beside it and handed to the histogram by sync(). After sync() a TH1F holds
// exactly what one Fill per entry would have left (the sums added up in the
// same order); a TH2F holds the same bins and entries with its sums at zero,
// from which ROOT's GetStats computes them from the bins, as it does for a
// histogram whose contents were set.
#ifndef KIVO_TRACKING_FAST_FILL_H
#define KIVO_TRACKING_FAST_FILL_H

#include "TH1.h"

class TH1F;
class TH2F;

namespace kivo::tracking {

// A uniform axis as the bin search needs it.
struct UniformAxis {
  int bins = 1;
  double low = 0, high = 1;
  explicit UniformAxis(const TAxis& axis) : bins(axis.GetNbins()), low(axis.GetXmin()), high(axis.GetXmax()) {}
  UniformAxis() = default;
  // 0 below the axis, bins + 1 at or above its upper edge, as ROOT finds it.
  int bin(double x) const {
    if (x < low) return 0;
    if (!(x < high)) return bins + 1;
    return 1 + static_cast<int>(bins * (x - low) / (high - low));
  }
  bool inside(int b) const { return b >= 1 && b <= bins; }
};

class FastFill1D {
 public:
  FastFill1D() = default;
  explicit FastFill1D(TH1F* histogram);
  void fill(double x) {
    const int b = x_.bin(x);
    cells_[b] += 1;
    entries_ += 1;
    if (!x_.inside(b)) return;
    stats_[0] += 1;
    stats_[1] += 1;
    stats_[2] += x;
    stats_[3] += x * x;
  }
  void sync();
  void reset();
  TH1F* histogram() const { return histogram_; }

 private:
  TH1F* histogram_ = nullptr;
  float* cells_ = nullptr;
  UniformAxis x_;
  double entries_ = 0;
  double stats_[TH1::kNstat] = {};
};

class FastFill2D {
 public:
  FastFill2D() = default;
  explicit FastFill2D(TH2F* histogram);
  void fill(double x, double y) {
    const int bx = x_.bin(x), by = y_.bin(y);
    cells_[bx + stride_ * by] += 1;
    entries_ += 1;
  }
  void sync();
  void reset();
  TH2F* histogram() const { return histogram_; }

 private:
  TH2F* histogram_ = nullptr;
  float* cells_ = nullptr;
  UniformAxis x_, y_;
  int stride_ = 0;
  double entries_ = 0;
};

}  // namespace kivo::tracking

#endif
