#include "FastFill.h"

#include <algorithm>

#include "TH1F.h"
#include "TH2F.h"

namespace kivo::tracking {

FastFill1D::FastFill1D(TH1F* histogram)
    : histogram_(histogram), cells_(histogram->GetArray()), x_(*histogram->GetXaxis()) {}

void FastFill1D::sync() {
  histogram_->PutStats(stats_);
  histogram_->SetEntries(entries_);
}

void FastFill1D::reset() {
  histogram_->Reset("");
  entries_ = 0;
  std::fill(std::begin(stats_), std::end(stats_), 0.0);
}

FastFill2D::FastFill2D(TH2F* histogram)
    : histogram_(histogram),
      cells_(histogram->GetArray()),
      x_(*histogram->GetXaxis()),
      y_(*histogram->GetYaxis()),
      stride_(histogram->GetNbinsX() + 2) {}

void FastFill2D::sync() {
  double zero[TH1::kNstat] = {};
  histogram_->PutStats(zero);
  histogram_->SetEntries(entries_);
}

void FastFill2D::reset() {
  histogram_->Reset("");
  entries_ = 0;
}

}  // namespace kivo::tracking
