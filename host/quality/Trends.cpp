#include "Trends.h"

#include <algorithm>
#include <cmath>

#include "TGraphAsymmErrors.h"

namespace kivo::quality {

namespace {

constexpr int kStaveMarkers[kStaves] = {20, 21, 33, 34};
constexpr int kBlack = 1;
constexpr int kFullCircle = 20;
constexpr const char* kVerdictAxis = "verdict (0 Null, 1 Good, 2 Medium, 3 Bad)";

struct Kind {
  const char* name;
  const char* title;
  const char* y_axis;
  TrendSeries::Merge merge;
};

constexpr Kind kStaveKinds[] = {
    {"hits_per_event", "Hits per event", "hits / event", TrendSeries::Merge::Mean},
    {"beam_column", "Beam column", "column", TrendSeries::Merge::Mean},
    {"beam_row", "Beam row", "row", TrendSeries::Merge::Mean},
    {"beam_column_width", "Beam width in columns", "columns", TrendSeries::Merge::Mean},
    {"beam_row_width", "Beam width in rows", "rows", TrendSeries::Merge::Mean},
    {"hot_pixels", "Hot pixels", "hot pixels", TrendSeries::Merge::Mean},
    {"verdict", "Verdict", kVerdictAxis, TrendSeries::Merge::Largest},
};
enum StaveKind { kHits, kColumn, kRow, kColumnWidth, kRowWidth, kHot, kVerdict };

std::string graph_title(const std::string& title, const char* y_axis) {
  return title + ";data events;" + y_axis;
}

}  // namespace

TrendSeries::TrendSeries(std::string name, std::string title, int colour, int marker, Merge merge,
                         std::size_t capacity)
    : merge_(merge), capacity_(std::max<std::size_t>(capacity, 4)), graph_(std::make_unique<TGraphAsymmErrors>()) {
  graph_->SetName(name.c_str());
  graph_->SetTitle(title.c_str());
  graph_->SetLineColor(colour);
  graph_->SetMarkerColor(colour);
  graph_->SetMarkerStyle(marker);
}

TrendSeries::~TrendSeries() = default;
TrendSeries::TrendSeries(TrendSeries&&) noexcept = default;
TrendSeries& TrendSeries::operator=(TrendSeries&&) noexcept = default;

void TrendSeries::add(double x, double y) {
  if (points_.size() >= capacity_) merge_older_half();
  points_.push_back({x, x, x, y, y, y, 1});
}

void TrendSeries::clear() { points_.clear(); }

void TrendSeries::merge_older_half() {
  const std::size_t older = points_.size() / 2 & ~std::size_t{1};
  std::vector<Point> merged;
  merged.reserve(points_.size());
  for (std::size_t i = 0; i < older; i += 2) {
    const Point& a = points_[i];
    const Point& b = points_[i + 1];
    merged.push_back({a.x_first, b.x_last, a.x_sum + b.x_sum, a.y_sum + b.y_sum, std::min(a.y_min, b.y_min),
                      std::max(a.y_max, b.y_max), a.count + b.count});
  }
  merged.insert(merged.end(), points_.begin() + static_cast<long>(older), points_.end());
  points_ = std::move(merged);
}

double TrendSeries::y_of(const Point& point) const {
  return merge_ == Merge::Largest ? point.y_max : point.y_sum / point.count;
}

const TGraphAsymmErrors& TrendSeries::graph() const {
  graph_->Set(static_cast<int>(points_.size()));
  for (std::size_t i = 0; i < points_.size(); ++i) {
    const Point& point = points_[i];
    const int index = static_cast<int>(i);
    const double x = point.x_sum / point.count, y = y_of(point);
    graph_->SetPoint(index, x, y);
    graph_->SetPointError(index, x - point.x_first, point.x_last - x, y - point.y_min, point.y_max - y);
  }
  return *graph_;
}

Trends::Trends(std::size_t capacity) {
  global_.emplace_back("trend_event_rate", graph_title("Event rate", "events / s"), kBlack, kFullCircle,
                       TrendSeries::Merge::Mean, capacity);
  global_.emplace_back("trend_verdict", graph_title("Overall verdict", kVerdictAxis), kBlack, kFullCircle,
                       TrendSeries::Merge::Largest, capacity);
  for (const Kind& kind : kStaveKinds)
    for (int s = 0; s < kStaves; ++s)
      staves_.emplace_back(std::string("trend_") + kind.name + "_" + std::to_string(s),
                           graph_title(std::string(kind.title) + ", stave " + std::to_string(s), kind.y_axis),
                           kStaveColours[s], kStaveMarkers[s], kind.merge, capacity);
}

TrendSeries& Trends::per_stave(std::size_t kind, int stave) {
  return staves_[kind * kStaves + static_cast<std::size_t>(stave)];
}

void Trends::add(const Reading& reading, const std::array<double, kStaves>& hits_per_event, const TrendPoint& point) {
  const double x = point.data_events;
  if (point.event_rate) global_[0].add(x, *point.event_rate);
  global_[1].add(x, static_cast<double>(point.overall));
  for (int s = 0; s < kStaves; ++s) {
    const StaveReading& stave = reading.staves[static_cast<std::size_t>(s)];
    per_stave(kHits, s).add(x, hits_per_event[static_cast<std::size_t>(s)]);
    if (stave.beam) {
      per_stave(kColumn, s).add(x, stave.beam->column);
      per_stave(kRow, s).add(x, stave.beam->row);
      per_stave(kColumnWidth, s).add(x, std::abs(stave.beam->column_width));
      per_stave(kRowWidth, s).add(x, std::abs(stave.beam->row_width));
    }
    per_stave(kHot, s).add(x, static_cast<double>(stave.hot.pixels.size()));
    per_stave(kVerdict, s).add(x, static_cast<double>(point.stave_verdicts[static_cast<std::size_t>(s)]));
  }
}

void Trends::clear() {
  for (TrendSeries& series : global_) series.clear();
  for (TrendSeries& series : staves_) series.clear();
}

std::vector<const TrendSeries*> Trends::series() const {
  std::vector<const TrendSeries*> all;
  for (const TrendSeries& series : global_) all.push_back(&series);
  for (const TrendSeries& series : staves_) all.push_back(&series);
  return all;
}

}  // namespace kivo::quality
