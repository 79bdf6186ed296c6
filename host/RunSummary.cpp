#include "RunSummary.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "ArchiveListing.h"
#include "TDirectory.h"
#include "TGraphAsymmErrors.h"
#include "TH1.h"
#include "TH2.h"
#include "TNamed.h"

namespace kivo::host {

namespace {

// The monitor's objects the figures come from.
constexpr const char* kPacketEvents = "hnevent";
constexpr const char* kHitRates = "hhitrate_chip";
constexpr const char* kBeamPrefix = "gmpos_chip_";
constexpr const char* kTracksPrefix = "htrack_total_";
constexpr const char* kMatchedPrefix = "htrack_matched_";

std::unique_ptr<TObject> figure(const std::string& name, double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", value);
  return std::make_unique<TNamed>((web::kSummaryPrefix + name).c_str(), text);
}

// The stave a name ends in: "gmpos_chip_2" -> 2; -1 when it names none.
int stave_of(const char* name, const char* prefix) {
  const std::size_t length = std::strlen(prefix);
  if (std::strncmp(name, prefix, length) != 0 || name[length] < '0' || name[length] > '9' || name[length + 1] != '\0')
    return -1;
  const int stave = name[length] - '0';
  return stave < RunSummary::kStaves ? stave : -1;
}

// A track map's cells summed per chip: the chips share its columns evenly.
std::array<double, RunSummary::kChips> per_chip(const TH2& map) {
  std::array<double, RunSummary::kChips> sums{};
  const int cells = map.GetNbinsX() / RunSummary::kChips;
  for (int chip = 0; chip < RunSummary::kChips && cells > 0; ++chip)
    sums[std::size_t(chip)] = map.Integral(chip * cells + 1, (chip + 1) * cells, 1, map.GetNbinsY());
  return sums;
}

}  // namespace

void RunSummary::take_hot_pixels(const quality::Quality& quality, int run) {
  const quality::Reading* reading = quality.reading();
  if (!reading || reading->run != run) return;
  for (int s = 0; s < kStaves; ++s)
    hot_pixels_[std::size_t(s)] = double(reading->staves[std::size_t(s)].hot.firing());
}

void RunSummary::look_at(const TObject& object) {
  const char* name = object.GetName();
  const bool histogram = std::strncmp(object.ClassName(), "TH1", 3) == 0;
  if (histogram && std::strcmp(name, kPacketEvents) == 0) {
    packet_events_ = static_cast<const TH1&>(object).GetBinContent(1);
  } else if (histogram && std::strcmp(name, kHitRates) == 0) {
    const auto& rates = static_cast<const TH1&>(object);
    for (int s = 0; s < kStaves && s < rates.GetNbinsX(); ++s)
      hits_per_event_[std::size_t(s)] = rates.GetBinContent(s + 1);
  } else if (const int stave = stave_of(name, kBeamPrefix);
             stave >= 0 && std::strcmp(object.ClassName(), "TGraphAsymmErrors") == 0) {
    const auto& graph = static_cast<const TGraphAsymmErrors&>(object);
    if (graph.GetN() == 0) return;
    double column = 0, row = 0;
    graph.GetPoint(0, column, row);
    beams_[std::size_t(stave)] = Beam{column, row, graph.GetErrorXhigh(0), graph.GetErrorYhigh(0)};
  } else if (std::strncmp(object.ClassName(), "TH2", 3) == 0) {
    if (const int stave = stave_of(name, kTracksPrefix); stave >= 0)
      tracks_[std::size_t(stave)] = per_chip(static_cast<const TH2&>(object));
    else if (const int matched = stave_of(name, kMatchedPrefix); matched >= 0)
      matched_[std::size_t(matched)] = per_chip(static_cast<const TH2&>(object));
  }
}

std::vector<std::unique_ptr<TObject>> RunSummary::objects(long data_events) const {
  const TDirectory::TContext unregistered(nullptr);
  std::vector<std::unique_ptr<TObject>> figures;
  for (int s = 0; s < kStaves; ++s) {
    const std::string stave = std::to_string(s);
    if (const auto& rate = hits_per_event_[std::size_t(s)])
      figures.push_back(figure("hits_per_event_" + stave, *rate));
    if (const auto& beam = beams_[std::size_t(s)]) {
      figures.push_back(figure("beam_column_" + stave, beam->column));
      figures.push_back(figure("beam_row_" + stave, beam->row));
      figures.push_back(figure("beam_width_column_" + stave, beam->column_width));
      figures.push_back(figure("beam_width_row_" + stave, beam->row_width));
    }
    if (const auto& hot = hot_pixels_[std::size_t(s)]) figures.push_back(figure("hot_pixels_" + stave, *hot));
    const auto& tracks = tracks_[std::size_t(s)];
    const auto& matched = matched_[std::size_t(s)];
    for (int c = 0; tracks && matched && c < kChips; ++c)
      if ((*tracks)[std::size_t(c)] > 0)
        figures.push_back(figure("efficiency_" + stave + "_" + std::to_string(c),
                                 (*matched)[std::size_t(c)] / (*tracks)[std::size_t(c)]));
  }
  if (packet_events_ && data_events > 0)
    figures.push_back(figure("missing_packet_fraction", std::max(0.0, 1.0 - *packet_events_ / double(data_events))));
  return figures;
}

}  // namespace kivo::host
