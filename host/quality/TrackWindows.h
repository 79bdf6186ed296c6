// What the checks on tracks share: their recent windows, and which staves
// the tracks in a window can judge at all. The tracks for a stave come from
// the other three; when one of those is dead, late or moved, the stave gets
// few tracks or none, and the checks say so instead of judging it (the
// monitor's own checks still do).
#ifndef KIVO_HOST_QUALITY_TRACK_WINDOWS_H
#define KIVO_HOST_QUALITY_TRACK_WINDOWS_H

#include <array>
#include <string>
#include <vector>

#include "Reading.h"
#include "Verdict.h"

namespace kivo::quality {

struct Context;

// A stave with fewer tracks per event than this share of the stave with
// most is not judged by its tracks.
inline constexpr double kMinTrackShare = 0.25;

struct TrackWindow {
  const Reading* start = nullptr;
  double events = 0;                     // with the detector packet
  std::array<double, kStaves> tracks{};  // for each stave
  // Why the tracks cannot judge a stave in this window; empty when they can.
  std::array<std::string, kStaves> not_judged;
};

// The windows of 1, 2, ... times `min_events` up to `window_events`
// before now, each at least `min_events` long and with a start of its own,
// shortest first. A stave is not judged in a window when no stave has
// tracks, or when it has fewer than kMinTrackShare of the stave with most.
std::vector<TrackWindow> track_windows(const Context& context, double min_events, double window_events);

// The tracks for `stave` between `start` and `now`.
const StaveTracks& stave_tracks(const Reading& reading, int stave);
const StaveTracks* earlier_tracks(const Reading& start, int stave);

// "the last 3,000 events"
std::string last_events(double events);

// Keeps the worse of two judgements of one place in different windows, the
// longer window (the later one) between two Good or two Null: its numbers
// hold more tracks.
void keep_worse(Result& kept, Result judged);

// Why a check on tracks gives no verdict before its first window.
std::string too_few_events(const Context& context, double min_events);

}  // namespace kivo::quality

#endif
