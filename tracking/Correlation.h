// Distributions of the differences between the cluster positions of a stave
// and those of stave 3 in events at a given lag: a coarse one over every
// possible difference, in which the alignment finds a stave's offset without
// knowing anything beforehand, and a fine one around a place already known,
// which measures the offset to a fraction of a pixel. Particles seen by both
// staves pile up at their offset; other pairs spread out.
#ifndef KIVO_TRACKING_CORRELATION_H
#define KIVO_TRACKING_CORRELATION_H

#include <cstdint>
#include <vector>

#include "Clusters.h"

namespace kivo::tracking {

// A peak of a distribution: where (as a difference, stave minus stave 3),
// its entries above the background, and how many standard deviations of the
// background that is.
struct Peak {
  double columns = 0, rows = 0;
  double excess = 0, significance = 0;
  double columns_error = 0, rows_error = 0;
};

// Differences in bins of 16 columns x 16 rows over -9216..9216 and -512..512.
class CoarseCorrelation {
 public:
  static constexpr int kBinPixels = 16;
  static constexpr int kBinsX = 2 * 9216 / kBinPixels;
  static constexpr int kBinsY = 2 * 512 / kBinPixels;
  static constexpr std::size_t kRaisedKept = 16384;

  CoarseCorrelation() : counts_(kBinsX * kBinsY, 0) { raised_.reserve(kRaisedKept); }
  void add(const std::vector<Cluster>& stave, const std::vector<Cluster>& reference);
  // The highest peak (2 x 2 bins) over its surroundings; `second` receives
  // the excess of the highest one away from it.
  Peak highest(double& second) const;
  void clear();
  double pairs() const { return pairs_; }

 private:
  Peak peak_at(int x, int y) const;
  std::vector<std::uint32_t> counts_;
  // The bins raised since the last clear, while few: clearing only those
  // costs less than clearing all.
  std::vector<std::uint32_t> raised_;
  bool many_raised_ = false;
  double pairs_ = 0;
};

// Differences within 32 pixels of a centre, in bins of one pixel.
class FineCorrelation {
 public:
  static constexpr double kHalfWidth = 32;
  static constexpr int kBins = 64;

  FineCorrelation() : counts_(kBins * kBins, 0) {}
  void centre(double columns, double rows);
  void add(const std::vector<Cluster>& stave, const std::vector<Cluster>& reference);
  // The peak: the densest place, then the centroid of the entries within 8
  // pixels of it over the background of the rest.
  Peak peak() const;
  void clear();
  double centre_columns() const { return centre_columns_; }
  double centre_rows() const { return centre_rows_; }

 private:
  std::vector<std::uint32_t> counts_;
  mutable std::vector<double> area_;  // the row-wise box sums of peak(), kept between calls
  double centre_columns_ = 0, centre_rows_ = 0;
};

}  // namespace kivo::tracking

#endif
