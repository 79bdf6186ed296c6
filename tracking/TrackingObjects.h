// The tracking objects of Tracker.h, owned here: their booking (outside any
// directory, so that the monitor's own lists never hold them), their fast
// filling, their statistics brought up to date, and their reset.
#ifndef KIVO_TRACKING_TRACKING_OBJECTS_H
#define KIVO_TRACKING_TRACKING_OBJECTS_H

#include <array>
#include <memory>
#include <vector>

#include "FastFill.h"
#include "Tracker.h"

class TObject;

namespace kivo::tracking {

struct Fills {
  std::array<FastFill2D, kStaves> track_total, track_matched;
  std::array<FastFill1D, kStaves> residual_col, residual_row, cluster_size, clusters_per_event, track_lag;
  FastFill2D tracks_per_event;
  std::array<FastFill2D, kStaves> moved_cells, moved_col, moved_row;
  FastFill2D skipped;
};

class TrackingObjects {
 public:
  TrackingObjects();
  ~TrackingObjects();
  TrackingObjects(const TrackingObjects&) = delete;
  TrackingObjects& operator=(const TrackingObjects&) = delete;

  Fills& fills() { return fills_; }
  const Objects& handles() const { return handles_; }
  // Hands every fast-filled histogram its entries and statistics.
  void sync();
  // Empties every object.
  void reset();
  // Every object, in the order of Objects.
  const std::vector<TObject*>& all() const { return all_; }

 private:
  std::vector<std::unique_ptr<TObject>> owned_;
  std::vector<TObject*> all_;
  Objects handles_;
  Fills fills_;
};

}  // namespace kivo::tracking

#endif
