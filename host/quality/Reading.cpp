#include "Reading.h"

#include <algorithm>
#include <numeric>
#include <type_traits>

#include "Checks.h"
#include "TGraphAsymmErrors.h"
#include "TH1D.h"
#include "TH1F.h"
#include "TH2F.h"
#include "WholeSum.h"
#include "monitor_plugin.h"

namespace kivo::quality {

namespace {

template <class T>
bool resolve(const std::function<void*(const char*)>& lookup, const char* name, T& target,
             std::string& missing) {
  void* address = lookup(name);
  if (!address) missing += (missing.empty() ? "" : ", ") + std::string(name);
  target = reinterpret_cast<T>(address);
  return address != nullptr;
}

// Read straight from the contents, as GetBinContent returns them.
Bins bins_of(const TH1F* histogram) {
  const float* contents = histogram->GetArray();
  return Bins(contents, contents + histogram->GetNbinsX() + 2);
}

std::optional<BeamFit> beam_of(const TGraphAsymmErrors* graph) {
  if (!graph || graph->GetN() < 1) return std::nullopt;
  double column = 0, row = 0;
  graph->GetPoint(0, column, row);
  return BeamFit{column, row, graph->GetErrorXhigh(0), graph->GetErrorYhigh(0)};
}

}  // namespace

// Each input holds what the host-to-monitor contract declares under its name.
template <class Input, class Declared>
constexpr bool holds = std::is_convertible_v<Declared, Input>;
static_assert(holds<decltype(MonitorInputs::run), decltype(&::kivo_run)>);
static_assert(holds<decltype(MonitorInputs::data_events), decltype(&::kivo_evnts)>);
static_assert(holds<decltype(MonitorInputs::events), decltype(&::hnevnt)>);
static_assert(holds<decltype(MonitorInputs::stave_hits), decltype(&::hchip)>);
static_assert(holds<decltype(MonitorInputs::hits_per_event), decltype(+::hnhit_chip)>);
static_assert(holds<decltype(MonitorInputs::column_differences), decltype(+::hdiffcol_chip)>);
static_assert(holds<decltype(MonitorInputs::row_differences), decltype(+::hdiffrow_chip)>);
static_assert(holds<decltype(MonitorInputs::beam), decltype(+::gmpos_chip)>);
static_assert(holds<decltype(MonitorInputs::maps), decltype(+::h2d_chip)>);
static_assert(std::is_same_v<decltype(MonitorInputs::chip_hits), decltype(&::kivo_chip_hits)>);
static_assert(std::is_same_v<decltype(MonitorInputs::hot_cells), decltype(&::kivo_hot_cells)>);
static_assert(std::is_same_v<decltype(MonitorInputs::hit_sums), decltype(&::kivo_hit_sums)>);
static_assert(std::is_same_v<decltype(MonitorInputs::set_correlation_mask), decltype(&::kivo_set_correlation_mask)>);
static_assert(std::is_same_v<decltype(MonitorInputs::lag_differences), decltype(&::kivo_lag_differences)>);
static_assert(std::is_same_v<decltype(MonitorInputs::set_busy_rule), decltype(&::kivo_set_busy_rule)>);
static_assert(std::is_same_v<decltype(MonitorInputs::busy_events), decltype(&::kivo_busy_events)>);

std::optional<MonitorInputs> resolve_inputs(const std::function<void*(const char*)>& lookup,
                                            std::string& missing) {
  MonitorInputs inputs{};
  missing.clear();
  resolve(lookup, "kivo_run", inputs.run, missing);
  resolve(lookup, "kivo_evnts", inputs.data_events, missing);
  resolve(lookup, "hnevnt", inputs.events, missing);
  resolve(lookup, "hchip", inputs.stave_hits, missing);
  resolve(lookup, "hnhit_chip", inputs.hits_per_event, missing);
  resolve(lookup, "hdiffcol_chip", inputs.column_differences, missing);
  resolve(lookup, "hdiffrow_chip", inputs.row_differences, missing);
  resolve(lookup, "gmpos_chip", inputs.beam, missing);
  resolve(lookup, "h2d_chip", inputs.maps, missing);
  resolve(lookup, "kivo_chip_hits", inputs.chip_hits, missing);
  resolve(lookup, "kivo_hot_cells", inputs.hot_cells, missing);
  resolve(lookup, "kivo_hit_sums", inputs.hit_sums, missing);
  resolve(lookup, "kivo_set_correlation_mask", inputs.set_correlation_mask, missing);
  resolve(lookup, "kivo_lag_differences", inputs.lag_differences, missing);
  resolve(lookup, "kivo_set_busy_rule", inputs.set_busy_rule, missing);
  resolve(lookup, "kivo_busy_events", inputs.busy_events, missing);
  if (!missing.empty()) return std::nullopt;
  return inputs;
}

const HotPixel* HotPixels::find(int column, int row) const {
  const auto found = std::lower_bound(pixels.begin(), pixels.end(), std::pair{row, column},
                                      [](const HotPixel& p, const std::pair<int, int>& at) {
                                        return std::pair{p.row, p.column} < at;
                                      });
  return found != pixels.end() && found->row == row && found->column == column ? &*found : nullptr;
}

long HotPixels::firing() const {
  return std::count_if(pixels.begin(), pixels.end(), [](const HotPixel& p) { return p.firing; });
}

double Reading::map_hits(int stave) const {
  const auto& chips = staves[static_cast<std::size_t>(stave)].chip_hits;
  return std::accumulate(chips.begin(), chips.end(), 0.0);
}

HitProfiles profiles_without_hot_pixels(const StaveReading& stave) {
  HitProfiles profiles{stave.double_columns, stave.rows};
  for (const HotPixel& pixel : stave.hot.pixels) {
    const std::size_t column = static_cast<std::size_t>(pixel.column / 2), row = static_cast<std::size_t>(pixel.row);
    if (column < profiles.double_columns.size())
      profiles.double_columns[column] = std::max(0.0, profiles.double_columns[column] - pixel.hits);
    if (row < profiles.rows.size()) profiles.rows[row] = std::max(0.0, profiles.rows[row] - pixel.hits);
  }
  return profiles;
}

std::string profile_name(const std::string& axis, int stave) {
  return "quality_" + axis + "_hits_" + std::to_string(stave);
}

double total(const Bins& bins) { return rootcompat::SumInOrder(bins.data(), bins.size()); }

Reading read_monitor(const MonitorInputs& inputs, const HotPixelConfig& hot) {
  Reading reading;
  reading.run = *inputs.run;
  reading.data_events = *inputs.data_events;
  if (!*inputs.events) return reading;  // not booked yet
  reading.events = (*inputs.events)->GetBinContent(1);
  // The monitor fills every cell of these: kept from one reading to the
  // next rather than allocated and cleared again, 150 kB a refresh.
  thread_local std::vector<double> columns(kStaveColumns), busy_columns(kStaveColumns), busy_rows(kStaveRows);
  for (int s = 0; s < kStaves; ++s) {
    StaveReading& stave = reading.staves[static_cast<std::size_t>(s)];
    double busy[4] = {};
    inputs.busy_events(s, busy, nullptr, nullptr);
    stave.busy = {busy[0], busy[1], busy[2], busy[3]};
    stave.hits = std::max(0.0, (*inputs.stave_hits)->GetBinContent(s + 1) - stave.busy.hits);
    stave.rows.assign(kStaveRows, 0.0);
    if (inputs.hit_sums(s, columns.data(), stave.rows.data()) != 0) std::fill(columns.begin(), columns.end(), 0.0);
    for (int c = 0; c < kChips; ++c) stave.chip_hits[static_cast<std::size_t>(c)] = inputs.chip_hits(s, c);
    if (stave.busy.events > 0) {
      if (inputs.busy_events(s, busy, busy_columns.data(), busy_rows.data()) != 0) {
        std::fill(busy_columns.begin(), busy_columns.end(), 0.0);
        std::fill(busy_rows.begin(), busy_rows.end(), 0.0);
      }
      for (std::size_t y = 0; y < kStaveRows; ++y) stave.rows[y] = std::max(0.0, stave.rows[y] - busy_rows[y]);
      for (std::size_t x = 0; x < kStaveColumns; ++x) columns[x] = std::max(0.0, columns[x] - busy_columns[x]);
      for (int c = 0; c < kChips; ++c) {
        const auto first = busy_columns.begin() + c * kChipColumns;
        double& hits = stave.chip_hits[static_cast<std::size_t>(c)];
        hits = std::max(0.0, hits - std::accumulate(first, first + kChipColumns, 0.0));
      }
    }
    stave.double_columns.reserve(kDoubleColumns);
    for (std::size_t d = 0; d < kDoubleColumns; ++d) stave.double_columns.push_back(columns[2 * d] + columns[2 * d + 1]);
    stave.beam = beam_of(inputs.beam[s]);
    stave.hits_per_event = bins_of(inputs.hits_per_event[s]);
    stave.hot = find_hot_pixels(inputs, s, reading.events, hot);
  }
  for (int s = 0; s < kDifferenceStaves; ++s) {
    reading.column_differences[static_cast<std::size_t>(s)] = bins_of(inputs.column_differences[s]);
    reading.row_differences[static_cast<std::size_t>(s)] = bins_of(inputs.row_differences[s]);
  }
  read_lag_bins(inputs, reading);
  return reading;
}

}  // namespace kivo::quality
