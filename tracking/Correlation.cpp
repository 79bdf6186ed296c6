#include "Correlation.h"

#include <algorithm>
#include <cmath>

namespace kivo::tracking {

namespace {

constexpr int kRing = 6;  // bins around a coarse peak that give its background
constexpr int kApart = 3;  // bins between two coarse peaks that count as two

}  // namespace

void CoarseCorrelation::add(const std::vector<Cluster>& stave, const std::vector<Cluster>& reference) {
  for (const Cluster& a : stave)
    for (const Cluster& b : reference) {
      const int x = static_cast<int>((a.column - b.column + 9216) * (1.0 / kBinPixels));
      const int y = static_cast<int>((a.row - b.row + 512) * (1.0 / kBinPixels));
      const std::uint32_t bin = static_cast<std::uint32_t>(std::clamp(y, 0, kBinsY - 1) * kBinsX + std::clamp(x, 0, kBinsX - 1));
      counts_[bin] += 1;
      if (many_raised_) continue;
      if (raised_.size() < kRaisedKept)
        raised_.push_back(bin);
      else
        many_raised_ = true;
    }
  pairs_ += static_cast<double>(stave.size() * reference.size());
}

// The 2 x 2 bins from (x, y) against the mean bin of the ring around them.
Peak CoarseCorrelation::peak_at(int x, int y) const {
  auto at = [this](int i, int j) { return static_cast<double>(counts_[static_cast<std::size_t>(j * kBinsX + i)]); };
  double ring = 0, ring_bins = 0;
  for (int j = std::max(0, y - kRing); j <= std::min(kBinsY - 1, y + 1 + kRing); ++j)
    for (int i = std::max(0, x - kRing); i <= std::min(kBinsX - 1, x + 1 + kRing); ++i) {
      if (i >= x - 1 && i <= x + 2 && j >= y - 1 && j <= y + 2) continue;
      ring += at(i, j);
      ring_bins += 1;
    }
  const double background = ring_bins > 0 ? ring / ring_bins : 0;
  Peak peak;
  double weight = 0, columns = 0, rows = 0;
  for (int j = y; j <= y + 1; ++j)
    for (int i = x; i <= x + 1; ++i) {
      const double w = std::max(0.0, at(i, j) - background);
      weight += w;
      columns += w * ((i + 0.5) * kBinPixels - 9216);
      rows += w * ((j + 0.5) * kBinPixels - 512);
    }
  const double window = at(x, y) + at(x + 1, y) + at(x, y + 1) + at(x + 1, y + 1);
  peak.excess = window - 4 * background;
  peak.significance = peak.excess / std::sqrt(4 * background + 1);
  peak.columns = weight > 0 ? columns / weight : (x + 1.0) * kBinPixels - 9216;
  peak.rows = weight > 0 ? rows / weight : (y + 1.0) * kBinPixels - 512;
  peak.columns_error = peak.rows_error = kBinPixels / 2.0;
  return peak;
}

Peak CoarseCorrelation::highest(double& second) const {
  // The densest 2 x 2 windows first, then each judged against its ring.
  // While few bins were raised, only the windows holding them are looked at.
  auto window = [this](int x, int y) {
    const std::size_t i = static_cast<std::size_t>(y * kBinsX + x);
    return counts_[i] + counts_[i + 1] + counts_[i + kBinsX] + counts_[i + kBinsX + 1];
  };
  auto each_window = [this](auto&& visit) {
    if (many_raised_) {
      for (int y = 0; y + 1 < kBinsY; ++y)
        for (int x = 0; x + 1 < kBinsX; ++x) visit(x, y);
      return;
    }
    for (std::uint32_t bin : raised_) {
      const int bx = static_cast<int>(bin % kBinsX), by = static_cast<int>(bin / kBinsX);
      for (int y = std::max(0, by - 1); y <= std::min(kBinsY - 2, by); ++y)
        for (int x = std::max(0, bx - 1); x <= std::min(kBinsX - 2, bx); ++x) visit(x, y);
    }
  };
  int best_x = 0, best_y = 0;
  std::uint32_t best = 0;
  each_window([&](int x, int y) {
    if (const std::uint32_t w = window(x, y); w > best) best = w, best_x = x, best_y = y;
  });
  int next_x = -1, next_y = -1;
  std::uint32_t next = 0;
  each_window([&](int x, int y) {
    if (std::abs(x - best_x) <= kApart && std::abs(y - best_y) <= kApart) return;
    if (const std::uint32_t w = window(x, y); w > next) next = w, next_x = x, next_y = y;
  });
  second = next_x < 0 ? 0 : std::max(0.0, peak_at(next_x, next_y).excess);
  return peak_at(best_x, best_y);
}

void CoarseCorrelation::clear() {
  if (many_raised_)
    std::fill(counts_.begin(), counts_.end(), 0u);
  else
    for (std::uint32_t bin : raised_) counts_[bin] = 0;
  raised_.clear();
  many_raised_ = false;
  pairs_ = 0;
}

void FineCorrelation::centre(double columns, double rows) {
  centre_columns_ = columns;
  centre_rows_ = rows;
}

void FineCorrelation::add(const std::vector<Cluster>& stave, const std::vector<Cluster>& reference) {
  constexpr double kScale = kBins / (2 * kHalfWidth);
  const double low_columns = centre_columns_ - kHalfWidth, low_rows = centre_rows_ - kHalfWidth;
  for (const Cluster& a : stave)
    for (const Cluster& b : reference) {
      const double x = (a.column - b.column - low_columns) * kScale;
      const double y = (a.row - b.row - low_rows) * kScale;
      if (x < 0 || y < 0 || x >= kBins || y >= kBins) continue;
      counts_[static_cast<std::size_t>(static_cast<int>(y) * kBins + static_cast<int>(x))] += 1;
    }
}

Peak FineCorrelation::peak() const {
  constexpr int kBox = 2;      // bins each side of the densest place's centre
  constexpr int kWindow = 14;  // bins each side that the centroid takes in
  constexpr int kCentroidPasses = 4;
  constexpr int kSide = 2 * kBox + 1;
  // Box sums by sliding sums along the rows, then down the columns.
  area_.assign(kBins * kBins, 0.0);
  double total = 0;
  for (int j = 0; j < kBins; ++j) {
    const std::uint32_t* row = &counts_[static_cast<std::size_t>(j * kBins)];
    double sum = 0;
    for (int i = 0; i < kBins + kBox; ++i) {
      if (i < kBins) sum += row[i], total += row[i];
      if (i >= kSide) sum -= row[i - kSide];
      if (i >= kBox) area_[static_cast<std::size_t>(j * kBins + i - kBox)] = sum;
    }
  }
  int best_x = 0, best_y = 0;
  double best = -1;
  for (int i = 0; i < kBins; ++i) {
    double sum = 0;
    for (int j = 0; j < kBins + kBox; ++j) {
      if (j < kBins) sum += area_[static_cast<std::size_t>(j * kBins + i)];
      if (j >= kSide) sum -= area_[static_cast<std::size_t>((j - kSide) * kBins + i)];
      if (j >= kBox && sum > best) best = sum, best_x = i, best_y = j - kBox;
    }
  }
  const int x0 = std::max(0, best_x - kWindow), x1 = std::min(kBins, best_x + kWindow + 1);
  const int y0 = std::max(0, best_y - kWindow), y1 = std::min(kBins, best_y + kWindow + 1);
  double inside = 0;
  for (int j = y0; j < y1; ++j)
    for (int i = x0; i < x1; ++i) inside += counts_[static_cast<std::size_t>(j * kBins + i)];
  const double window_bins = static_cast<double>((x1 - x0) * (y1 - y0));
  const double outside_bins = kBins * kBins - window_bins;
  const double background = outside_bins > 0 ? (total - inside) / outside_bins : 0;
  // The centroid of the entries above the background within the window,
  // the window moved onto it until it stays: a wide peak (divergent tracks)
  // is measured whole, not where its densest box happened to lie.
  double weight = 0, mx = 0, my = 0, sxx = 0, syy = 0;
  double cx = best_x + 0.5, cy = best_y + 0.5;  // in bins
  for (int pass = 0; pass < kCentroidPasses; ++pass) {
    const int wx0 = std::max(0, static_cast<int>(cx) - kWindow), wx1 = std::min(kBins, static_cast<int>(cx) + kWindow + 1);
    const int wy0 = std::max(0, static_cast<int>(cy) - kWindow), wy1 = std::min(kBins, static_cast<int>(cy) + kWindow + 1);
    double w_sum = 0, sx = 0, sy = 0;
    sxx = syy = 0;
    for (int j = wy0; j < wy1; ++j)
      for (int i = wx0; i < wx1; ++i) {
        const double w = counts_[static_cast<std::size_t>(j * kBins + i)] - background;
        w_sum += w, sx += w * (i + 0.5), sy += w * (j + 0.5), sxx += w * (i + 0.5) * (i + 0.5), syy += w * (j + 0.5) * (j + 0.5);
      }
    if (w_sum <= 0) break;
    weight = w_sum;
    mx = sx / w_sum, my = sy / w_sum;
    sxx = sxx / w_sum - mx * mx, syy = syy / w_sum - my * my;
    if (std::abs(mx - cx) < 0.5 && std::abs(my - cy) < 0.5) break;
    cx = mx, cy = my;
  }
  constexpr double kBinPixels = 2 * kHalfWidth / kBins;
  Peak peak;
  const double box_bins = kSide * kSide;
  peak.excess = best - box_bins * background;
  peak.significance = peak.excess / std::sqrt(box_bins * background + 1);
  if (weight <= 0) return peak;
  // A wide peak stands out as a whole rather than in its densest box.
  const double window = (2 * kWindow + 1) * (2 * kWindow + 1);
  if (const double whole = weight / std::sqrt(window * background + 1); whole > peak.significance) {
    peak.excess = weight;
    peak.significance = whole;
  }
  peak.columns = centre_columns_ - kHalfWidth + mx * kBinPixels;
  peak.rows = centre_rows_ - kHalfWidth + my * kBinPixels;
  peak.columns_error = kBinPixels * std::sqrt(std::max(0.0, sxx) / std::max(1.0, peak.excess));
  peak.rows_error = kBinPixels * std::sqrt(std::max(0.0, syy) / std::max(1.0, peak.excess));
  return peak;
}

void FineCorrelation::clear() { std::fill(counts_.begin(), counts_.end(), 0u); }

}  // namespace kivo::tracking
