#include "TrackWindows.h"

#include <algorithm>

#include "Checks.h"

namespace kivo::quality {

namespace {

const char* state_name(tracking::AlignmentState state) {
  switch (state) {
    case tracking::AlignmentState::searching: return "not aligned yet";
    case tracking::AlignmentState::aligned: return "aligned";
    case tracking::AlignmentState::displaced: return "displaced";
    case tracking::AlignmentState::silent: return "silent";
  }
  return "";
}

// The other staves, and those of them whose alignment says why they give no tracks.
std::string needed_staves(const Reading& now, int stave) {
  std::vector<int> others;
  std::string suspects;
  for (int s = 0; s < kStaves; ++s) {
    if (s == stave) continue;
    others.push_back(s);
    const tracking::AlignmentState state = stave_tracks(now, s).alignment.state;
    if (state != tracking::AlignmentState::aligned)
      suspects += (suspects.empty() ? "" : ", ") + format("stave %d %s", s, state_name(state));
  }
  return format("staves %d, %d and %d", others[0], others[1], others[2]) +
         (suspects.empty() ? "" : " (" + suspects + ")");
}

std::string judged_in(const Reading& now, const TrackWindow& window, int stave) {
  const auto most = std::max_element(window.tracks.begin(), window.tracks.end());
  if (*most <= 0)
    return format("stave %d: no tracks in %s (no beam, or the staves not aligned yet)", stave,
                  last_events(window.events).c_str());
  const int best = static_cast<int>(most - window.tracks.begin());
  return format("stave %d: not judged: %s tracks in %s against %s for stave %d; its tracks need %s in step with each "
                "other, and one of them is dead, late or moved (the occupancy, synchronisation and residuals checks "
                "say which)",
                stave, grouped(window.tracks[static_cast<std::size_t>(stave)]).c_str(),
                last_events(window.events).c_str(), grouped(*most).c_str(), best, needed_staves(now, stave).c_str());
}

}  // namespace

const StaveTracks& stave_tracks(const Reading& reading, int stave) {
  return reading.tracks.staves[static_cast<std::size_t>(stave)];
}

const StaveTracks* earlier_tracks(const Reading& start, int stave) {
  const StaveTracks& tracks = stave_tracks(start, stave);
  return tracks.total.empty() ? nullptr : &tracks;
}

void keep_worse(Result& kept, Result judged) {
  const bool worse = judged.verdict > kept.verdict ||
                     (judged.verdict == kept.verdict &&
                      (judged.verdict <= Verdict::Good || judged.severity > kept.severity));
  if (worse) kept = std::move(judged);
}

std::string last_events(double events) { return "the last " + grouped(events) + " events"; }

std::string too_few_events(const Context& context, double min_events) {
  const double events = context.now.events - context.history.reset_point()->events;
  return format("%s events so far, %s needed", grouped(events).c_str(), grouped(min_events).c_str());
}

std::vector<TrackWindow> track_windows(const Context& context, double min_events, double window_events) {
  const Reading& now = context.now;
  std::vector<TrackWindow> windows;
  for (double length = min_events;; length += min_events) {
    const Reading& start = context.history.window_start(now, std::min(length, window_events), Count::Events);
    const double events = now.events - start.events;
    const bool repeated = !windows.empty() && windows.back().start == &start;
    if (events >= min_events && !repeated) {
      TrackWindow window;
      window.start = &start;
      window.events = events;
      for (int s = 0; s < kStaves; ++s) {
        const StaveTracks* earlier = earlier_tracks(start, s);
        window.tracks[static_cast<std::size_t>(s)] =
            stave_tracks(now, s).tracks() - (earlier ? earlier->tracks() : 0.0);
      }
      const double most = *std::max_element(window.tracks.begin(), window.tracks.end());
      for (int s = 0; s < kStaves; ++s)
        if (most <= 0 || window.tracks[static_cast<std::size_t>(s)] < kMinTrackShare * most)
          window.not_judged[static_cast<std::size_t>(s)] = judged_in(now, window, s);
      windows.push_back(std::move(window));
    }
    if (length >= window_events || &start == context.history.reset_point()) break;
  }
  return windows;
}

}  // namespace kivo::quality
