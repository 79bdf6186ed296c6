// The regions of the occupancy check: a stave's counts in a recent window
// against what its baseline, scaled by the events and by what the beam
// delivered, makes each region expect; the regions flagged, and the names
// of those an operator is told of (Occupancy.cpp judges the windows).
#ifndef KIVO_HOST_QUALITY_OCCUPANCY_REGIONS_H
#define KIVO_HOST_QUALITY_OCCUPANCY_REGIONS_H

#include <string>
#include <vector>

#include "BeamProfile.h"
#include "Checks.h"

namespace kivo::quality {

// One region of a chip judged in one window.
struct Region {
  int first = 0, last = 0;  // double columns
  double hits = 0, expected = 0;
  double events = 0;
  Verdict verdict = Verdict::Good;
  bool high = false;
  double severity = 0;
  // A key for the region and its direction, the same at every judgement.
  long place() const { return (static_cast<long>(first) * kDoubleColumns + last) * 2 + (high ? 1 : 0); }
};

// Running totals over the double columns of a stave, the excluded ones
// counted as empty, so that any region's total is one subtraction.
class ColumnTotals {
 public:
  // The hits of `later` less those of `earlier` (counts since the reset at
  // two readings), or of `later` alone when `earlier` is null.
  ColumnTotals(const std::vector<double>& later, const std::vector<double>* earlier, const Flags& excluded);
  // Double columns first..last.
  double between(int first, int last) const {
    return at_[static_cast<std::size_t>(last) + 1] - at_[static_cast<std::size_t>(first)];
  }

 private:
  std::vector<double> at_;
};

// What the beam delivered to a stave: its hits above the noise floor in the
// window and in the baseline, and the ratio of the beam per event in the
// window to that in the baseline of each other stave that speaks (not
// silent, with a beam in its baseline). The ratio the stave's regions
// expect is the middle of those and the stave's own (without the region):
// one faulty stave or region cannot move it.
struct BeamShares {
  double noise_now = 0, noise_before = 0;  // hits per valid double column at the floor
  double own_now = 0, own_before = 0;      // the stave's beam hits
  bool own_counts = true;                  // false when the stave is silent
  std::vector<double> others;              // in ascending order
};

// A recent window of a stave against its baseline. A region expects its
// baseline hits scaled by the events (`events_scale`) for the part of them
// that is noise and by the beam delivered for the part that is beam; since
// which part is which is known only roughly, a region is flagged for too few
// hits only below both scalings, for too many only above both.
struct Comparison {
  double events;                       // of the window
  double baseline_events;
  const ColumnTotals& recent_totals;
  const ColumnTotals& baseline_totals;
  const ColumnTotals& valid;           // how many double columns are not excluded
  BeamShares beam;
  double scatter = 1;                  // counts are divided by this for the Poisson test

  double events_scale() const { return events / baseline_events; }
  // The beam per event in the window over the baseline's, measured with the
  // region first..last left out (where the fault may be).
  double beam_ratio(int first, int last) const;
  double stave_beam_ratio() const;
  // The expected hits scaled by the events and by the beam delivered: the
  // lower and the higher of the two.
  struct Range {
    double low, high;
  };
  Range expected_range(int first, int last) const;
  // The likeliest expectation: noise by the events (`scale`, the
  // events_scale()), beam by the beam (`stave_ratio`, the stave_beam_ratio(),
  // both given by a caller that asks it of every region).
  double expected_point(int first, int last, double scale, double stave_ratio) const;
};

// How much more than Poisson counts the regions scatter around their
// expectation, at least as much as the baseline's own fluctuation adds.
double scatter_of(const Comparison& c);

// The limits of the configuration, those a region was past at the last
// judgement held by the margin (see LimitHolds).
struct RegionLimits {
  double medium_low, bad_low, medium_high, bad_high, medium_p, bad_p;
};
RegionLimits held_limits(const OccupancyConfig& config, Verdict before);

// Every flagged region of the stave in one window, coarsest level first;
// `before` gives the verdict each region had at the last judgement.
std::vector<Region> flagged_regions(const Comparison& c, const OccupancyConfig& config,
                                    double most_per_double_column, const std::function<Verdict(long)>& before);

// The regions to name of those flagged in one window: a region is dropped
// when a narrower one inside it explains it, or when it lies inside a wider
// one that is kept.
std::vector<Region> named(const std::vector<Region>& flagged);
// The regions named in several windows: each place once, in its most
// severe judgement, and none inside a wider one as severe.
std::vector<Region> merged(const std::vector<Region>& all);
// Drops from `regions` each that lies inside a wider one of the same
// direction and a verdict at least as severe.
std::vector<Region> widest(const std::vector<Region>& regions);

// "the whole chip (too few: 0 hits in the last 1000 events, 11316 expected, 0%)"
std::string describe_region(const Region& region);

}  // namespace kivo::quality

#endif
