#include "MetricsFeed.h"

#include <algorithm>

namespace kivo::host {

namespace {

static_assert(web::kMetricStaves == quality::kStaves && web::kMetricChips == quality::kChips);
static_assert(web::QualityFigures::kNone == quality::kNone);
// /metrics gives the verdicts as these numbers.
static_assert(static_cast<int>(quality::Verdict::Null) == 0 && static_cast<int>(quality::Verdict::Good) == 1 &&
              static_cast<int>(quality::Verdict::Medium) == 2 && static_cast<int>(quality::Verdict::Bad) == 3);

web::QualityFigures::ChipValues chip_hits(const quality::Reading& reading) {
  web::QualityFigures::ChipValues hits{};
  for (std::size_t s = 0; s < quality::kStaves; ++s)
    for (std::size_t c = 0; c < quality::kChips; ++c) hits[s][c] = reading.staves[s].chip_hits[c];
  return hits;
}

std::optional<web::QualityFigures::Beam> beam_of(const quality::StaveReading& stave) {
  if (!stave.beam) return std::nullopt;
  return web::QualityFigures::Beam{stave.beam->column, stave.beam->row, stave.beam->column_width,
                                   stave.beam->row_width};
}

// Each stave's tracks and matches since the reset.
std::array<quality::TrackCounts, quality::kStaves> stave_tracks(const quality::Reading& reading) {
  std::array<quality::TrackCounts, quality::kStaves> tracks{};
  const quality::CellRegion stave{0, quality::kTrackCellsX - 1, 0, quality::kTrackCellsY - 1};
  for (std::size_t s = 0; s < quality::kStaves; ++s)
    tracks[s] = quality::counts_in(reading.tracks.staves[s], nullptr, stave);
  return tracks;
}

}  // namespace

// A window starts at the last reading of the same run, or at the reset when
// the run changed or the histograms were reset; a reading without new events
// leaves the last window's rates as they are.
void MetricsFeed::follow(const quality::Reading& reading) {
  const bool restarted = !base_ || base_->run != reading.run || reading.events < base_->events;
  const Base start = restarted ? Base{reading.run, 0, {}} : *base_;
  const double events = reading.events - start.events;
  const web::QualityFigures::ChipValues hits = chip_hits(reading);
  if (events > 0) {
    web::QualityFigures::ChipValues rates{};
    for (std::size_t s = 0; s < quality::kStaves; ++s)
      for (std::size_t c = 0; c < quality::kChips; ++c) rates[s][c] = (hits[s][c] - start.hits[s][c]) / events;
    hits_per_event_ = rates;
  } else if (restarted) {
    hits_per_event_.reset();
  }
  follow_tracks(reading, start);
  base_ = Base{reading.run, reading.events, hits, stave_tracks(reading)};
}

void MetricsFeed::follow_tracks(const quality::Reading& reading, const Base& start) {
  if (!reading.tracks.present) return;
  const std::array<quality::TrackCounts, quality::kStaves> tracks = stave_tracks(reading);
  double added = 0;
  for (std::size_t s = 0; s < quality::kStaves; ++s) {
    const double total = tracks[s].total - start.tracks[s].total;
    added += std::max(0.0, total);
    if (total > 0)
      efficiency_[s] = (tracks[s].matched - start.tracks[s].matched) / total;
    else if (reading.events > start.events || reading.events == 0)
      efficiency_[s].reset();
  }
  tracks_total_ = tracks_total_.value_or(0) + added;
}

std::shared_ptr<const web::QualityFigures> MetricsFeed::figures(const quality::Quality& quality) {
  auto figures = std::make_shared<web::QualityFigures>();
  for (const quality::TrackedResult& tracked : quality.results()) {
    const quality::Result& result = tracked.result;
    figures->verdicts.push_back({result.check, result.stave, result.chip, static_cast<int>(result.verdict)});
  }
  figures->overall = static_cast<int>(quality.overall());
  if (const quality::Reading* reading = quality.reading()) {
    follow(*reading);
    for (std::size_t s = 0; s < quality::kStaves; ++s) figures->beams[s] = beam_of(reading->staves[s]);
  }
  figures->hits_per_event = hits_per_event_;
  figures->stave_efficiency = efficiency_;
  figures->tracks_total = tracks_total_;
  return figures;
}

}  // namespace kivo::host
