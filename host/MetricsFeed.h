// What the event thread hands /metrics after each judgement of the data
// quality: the verdicts as numbers, the beam fits, and the hits per event of
// each chip over the window since the judgement before (web/Metrics.h).
#ifndef KIVO_HOST_METRICS_FEED_H
#define KIVO_HOST_METRICS_FEED_H

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
  };
  void follow(const quality::Reading& reading);

  std::optional<Base> base_;
  std::optional<web::QualityFigures::ChipValues> hits_per_event_;
};

}  // namespace kivo::host

#endif
