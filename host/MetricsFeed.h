// What the event thread hands /metrics after each judgement of the data
// quality: the verdicts as numbers, the beam fits, and the hits per event of
// each chip and each stave's efficiency by tracks over the window since the
// judgement before, and the tracks built since kivo started (web/Metrics.h).
#ifndef KIVO_HOST_METRICS_FEED_H
#define KIVO_HOST_METRICS_FEED_H

#include <array>
#include <memory>
#include <optional>

#include "Metrics.h"
#include "Quality.h"

namespace kivo::host {

class MetricsFeed {
 public:
  // The figures of `quality` as judged last. Called again without a new
  // reading, it keeps the hits per event it gave.
  std::shared_ptr<const web::QualityFigures> figures(const quality::Quality& quality);

 private:
  // The counts of the reading the next window starts from.
  struct Base {
    int run = 0;
    double events = 0;
    web::QualityFigures::ChipValues hits{};
    std::array<quality::TrackCounts, quality::kStaves> tracks{};
  };
  void follow(const quality::Reading& reading);
  void follow_tracks(const quality::Reading& reading, const Base& start);

  std::optional<Base> base_;
  std::optional<web::QualityFigures::ChipValues> hits_per_event_;
  std::array<std::optional<double>, quality::kStaves> efficiency_;
  std::optional<double> tracks_total_;
};

}  // namespace kivo::host

#endif
