// Trends over the run: per stave the hits per event, the fitted beam column
// and row with their widths, the hot-pixel count and the verdict; for the
// whole detector the event rate and the overall verdict. Each is a ROOT
// graph against the data events of the run. Memory stays bounded for a run
// of any length: when a series is full, its older half is merged pairwise,
// each merged point spanning its events (x errors) and the range of its
// values (y errors), so nothing is dropped without a trace.
#ifndef KIVO_HOST_QUALITY_TRENDS_H
#define KIVO_HOST_QUALITY_TRENDS_H

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Reading.h"
#include "Verdict.h"

class TGraphAsymmErrors;

namespace kivo::quality {

// One bounded series of points.
class TrendSeries {
 public:
  // Merged points carry the mean of their values, or the largest (verdicts).
  enum class Merge { Mean, Largest };

  TrendSeries(std::string name, std::string title, int colour, int marker, Merge merge,
              std::size_t capacity);
  ~TrendSeries();
  TrendSeries(TrendSeries&&) noexcept;
  TrendSeries& operator=(TrendSeries&&) noexcept;

  void add(double x, double y);
  void clear();
  std::size_t size() const { return points_.size(); }
  // The series as a graph, refreshed from the points.
  const TGraphAsymmErrors& graph() const;

 private:
  struct Point {
    double x_first, x_last, x_sum, y_sum, y_min, y_max;
    int count;
  };
  void merge_older_half();
  double y_of(const Point& point) const;

  Merge merge_;
  std::size_t capacity_;
  std::vector<Point> points_;
  std::unique_ptr<TGraphAsymmErrors> graph_;
};

// What one evaluation adds to the trends.
struct TrendPoint {
  double data_events;
  std::optional<double> event_rate;  // events per second of wall-clock time
  Verdict overall;
  std::array<Verdict, kStaves> stave_verdicts;
};

class Trends {
 public:
  explicit Trends(std::size_t capacity = 512);

  void add(const Reading& reading, const std::array<double, kStaves>& hits_per_event, const TrendPoint& point);
  void clear();
  // Every series, global ones first.
  std::vector<const TrendSeries*> series() const;

 private:
  TrendSeries& per_stave(std::size_t kind, int stave);

  std::vector<TrendSeries> global_;
  std::vector<TrendSeries> staves_;  // kind-major: kind * kStaves + stave
};

}  // namespace kivo::quality

#endif
