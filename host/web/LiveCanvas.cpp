#include "LiveCanvas.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>

#include "DetachedHistograms.h"
#include "TCanvas.h"
#include "TH2F.h"
#include "TPad.h"
#include "monitor_plugin.h"

namespace kivo::web {

namespace {

constexpr int kMapBinsX = kOverviewBinsX * kOverviewBlockX;
constexpr int kMapBinsY = kOverviewBinsY * kOverviewBlockY;
// Used for a map whose pad was never copied.
constexpr int kDefaultPixelsX = 560;
constexpr int kDefaultPixelsY = 123;

// An axis like `from` with `nbins` bins over [low, up]; a range set on
// `from` keeps covering the same bins.
void copy_axis(const TAxis& from, TAxis& to, int nbins, double low, double up) {
  to = from;
  to.Set(nbins, low, up);
  if (!from.TestBit(TAxis::kAxisRange)) return;
  const auto bin_of = [&](int bin) { return to.FindFixBin(from.GetBinCenter(bin)); };
  to.SetRange(bin_of(from.GetFirst()), bin_of(from.GetLast()));
}

// A histogram like `map` (name, title, status bits, line, fill and marker
// attributes, axes, minimum, maximum, entries, option) over the given bins,
// empty. Its statistics sums stay zero: the canvas draws no statistics box.
std::unique_ptr<TH2F> histogram_like(const TH2F& map, int nx, double xlow, double xup, int ny, double ylow,
                                     double yup) {
  DetachedHistograms detached;
  auto copy = std::make_unique<TH2F>(map.GetName(), map.GetTitle(), nx, xlow, xup, ny, ylow, yup);
  map.TObject::Copy(*copy);
  map.TAttLine::Copy(*copy);
  map.TAttFill::Copy(*copy);
  map.TAttMarker::Copy(*copy);
  copy_axis(*map.GetXaxis(), *copy->GetXaxis(), nx, xlow, xup);
  copy_axis(*map.GetYaxis(), *copy->GetYaxis(), ny, ylow, yup);
  *copy->GetZaxis() = *map.GetZaxis();
  copy->SetMinimum(map.GetMinimumStored());
  copy->SetMaximum(map.GetMaximumStored());
  copy->SetEntries(map.GetEntries());
  copy->SetOption(map.GetOption());
  return copy;
}

// Bin (x, y), 1-based, of a histogram with `nx` bins across.
std::size_t cell(int nx, int x, int y) { return std::size_t(y) * std::size_t(nx + 2) + std::size_t(x); }

int frame_pixels(double pad_fraction, unsigned canvas_pixels, double margin_a, double margin_b) {
  return std::max(1, static_cast<int>(pad_fraction * canvas_pixels * (1 - margin_a - margin_b)));
}

int divide_up(long a, long b) { return static_cast<int>((a + b - 1) / b); }

}  // namespace

std::shared_ptr<LiveFrame> LiveCanvas::frame(const TCanvas& canvas, const std::vector<MapRegion>& regions,
                                             int run, long events) {
  auto frame = std::make_shared<LiveFrame>();
  frame->run = run;
  frame->events = events;
  frame->published_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
  DetachedHistograms detached;
  copied_maps_.clear();
  frame->canvas = std::make_unique<rootcompat::CanvasCopy>(
      canvas, [&](const TObject& primitive, const TPad& pad) { return copy(primitive, pad, canvas); });
  frame->hit_maps.swap(copied_maps_);
  frame->recent = recent_maps(frame->hit_maps);
  add_regions(*frame, regions);
  return frame;
}

std::shared_ptr<LiveFrame> LiveCanvas::regions(const std::vector<MapRegion>& regions) {
  auto frame = std::make_shared<LiveFrame>();
  add_regions(*frame, regions);
  return frame;
}

std::unique_ptr<TObject> LiveCanvas::copy(const TObject& primitive, const TPad& pad, const TCanvas& canvas) {
  const int stave = stave_of(primitive);
  if (stave < 0) return std::unique_ptr<TObject>(primitive.Clone());
  pad_pixels_[stave] = {frame_pixels(pad.GetAbsWNDC(), canvas.GetWw(), pad.GetLeftMargin(), pad.GetRightMargin()),
                        frame_pixels(pad.GetAbsHNDC(), canvas.GetWh(), pad.GetBottomMargin(), pad.GetTopMargin())};
  std::unique_ptr<TH2F> map = overview(stave, static_cast<const TH2F&>(primitive));
  copied_maps_.push_back({map.get(), stave, kMapBinsX, kMapBinsY});
  return map;
}

// The stave whose normalised map `primitive` is, if the map has the
// overview's binning; -1 otherwise.
int LiveCanvas::stave_of(const TObject& primitive) const {
  if (!source_.maps || !source_.overview) return -1;
  for (int stave = 0; stave < HitMapSource::kStaves; ++stave) {
    const TH2F* map = source_.maps[stave];
    if (map == &primitive && map->GetNbinsX() == kMapBinsX && map->GetNbinsY() == kMapBinsY) return stave;
  }
  return -1;
}

std::unique_ptr<TH2F> LiveCanvas::overview(int stave, const TH2F& map) {
  const TAxis& x = *map.GetXaxis();
  const TAxis& y = *map.GetYaxis();
  auto copy = histogram_like(map, kOverviewBinsX, x.GetXmin(), x.GetXmax(), kOverviewBinsY, y.GetXmin(), y.GetXmax());
  values_.resize(std::size_t(kOverviewBinsX) * kOverviewBinsY);
  if (source_.overview(stave, values_.data()) != 0) return copy;
  float* cells = copy->GetArray();
  for (int by = 1; by <= kOverviewBinsY; ++by)
    std::copy_n(&values_[std::size_t(by - 1) * kOverviewBinsX], kOverviewBinsX, cells + cell(kOverviewBinsX, 1, by));
  return copy;
}

// The maps of the window the monitor last ended, each like the overview of
// its stave in this frame but holding each block's hits in the window (the
// page divides them per pixel and event); those of the last frame while the
// window and the maps on the canvas are the same.
std::shared_ptr<const RecentMaps> LiveCanvas::recent_maps(const std::vector<LiveFrame::HitMap>& hit_maps) {
  if (!source_.recent_window || !source_.recent_blocks) return nullptr;
  KivoRecentWindow window{};
  if (source_.recent_window(&window) != 0) window.serial = 0;
  if (recent_ && recent_->serial == window.serial && recent_->events == window.events &&
      recent_->maps.size() == (window.serial ? hit_maps.size() : 0))
    return recent_;
  auto recent = std::make_shared<RecentMaps>();
  recent->serial = window.serial;
  recent->first_event = window.first_event;
  recent->last_event = window.last_event;
  recent->events = window.events;
  values_.resize(std::size_t(kOverviewBinsX) * kOverviewBinsY);
  for (const LiveFrame::HitMap& hit_map : hit_maps) {
    if (!window.serial || source_.recent_blocks(hit_map.stave, values_.data()) != 0) continue;
    const auto& overview = static_cast<const TH2F&>(*hit_map.overview);
    const TAxis& x = *overview.GetXaxis();
    const TAxis& y = *overview.GetYaxis();
    std::shared_ptr<TH2F> map =
        histogram_like(overview, kOverviewBinsX, x.GetXmin(), x.GetXmax(), kOverviewBinsY, y.GetXmin(), y.GetXmax());
    float* cells = map->GetArray();
    double hits = 0;
    for (int by = 1; by <= kOverviewBinsY; ++by)
      for (int bx = 1; bx <= kOverviewBinsX; ++bx) {
        const float block = values_[std::size_t(by - 1) * kOverviewBinsX + (bx - 1)];
        cells[cell(kOverviewBinsX, bx, by)] = block;
        hits += block;
      }
    map->SetEntries(hits);
    recent->maps.emplace_back(hit_map.stave, std::move(map));
  }
  recent_ = std::move(recent);
  return recent_;
}

void LiveCanvas::add_regions(LiveFrame& frame, const std::vector<MapRegion>& regions) {
  for (const MapRegion& wanted : regions) {
    if (auto map = region(wanted)) frame.regions.push_back({wanted, std::move(map)});
  }
}

// The region's bins, merged by maximum in blocks small enough that the
// region fits the pixels of its pad's frame; single bins once it does.
std::unique_ptr<TH2F> LiveCanvas::region(const MapRegion& wanted) {
  if (!source_.maps || !source_.region || !wanted.valid(HitMapSource::kStaves, kMapBinsX, kMapBinsY) ||
      wanted.bins() > kMaxRegionBins)
    return nullptr;
  const TH2F* map = source_.maps[wanted.stave];
  if (!map) return nullptr;
  const int width = wanted.last_x - wanted.first_x + 1;
  const int height = wanted.last_y - wanted.first_y + 1;
  values_.resize(std::size_t(wanted.bins()));
  if (source_.region(wanted.stave, wanted.first_x, wanted.last_x, wanted.first_y, wanted.last_y, values_.data()) != 0)
    return nullptr;
  const Pixels pixels = pad_pixels_[wanted.stave].x > 0 ? pad_pixels_[wanted.stave] : Pixels{kDefaultPixelsX, kDefaultPixelsY};
  const int fx = divide_up(width, pixels.x);
  const int fy = divide_up(height, pixels.y);
  const int nx = divide_up(width, fx);
  const int ny = divide_up(height, fy);
  const TAxis& x = *map->GetXaxis();
  const TAxis& y = *map->GetYaxis();
  const double xlow = x.GetBinLowEdge(wanted.first_x);
  const double ylow = y.GetBinLowEdge(wanted.first_y);
  auto merged = histogram_like(*map, nx, xlow, xlow + nx * fx * x.GetBinWidth(1), ny, ylow,
                               ylow + ny * fy * y.GetBinWidth(1));
  float* cells = merged->GetArray();
  std::fill(cells, cells + merged->GetNcells(), -std::numeric_limits<float>::infinity());
  for (int row = 0; row < height; ++row) {
    const float* source = &values_[std::size_t(row) * width];
    float* target = cells + cell(nx, 1, row / fy + 1);
    for (int column = 0; column < width; ++column)
      target[column / fx] = std::max(target[column / fx], source[column]);
  }
  std::replace(cells, cells + merged->GetNcells(), -std::numeric_limits<float>::infinity(), 0.0f);
  return merged;
}

}  // namespace kivo::web
