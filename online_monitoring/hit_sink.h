// The hits the monitor hands to the consumer the host installs
// (kivo_set_hit_sink): gathered per stave while the detector packet is
// decoded, handed over once the event is filled. Nothing is gathered while
// no consumer is installed.
#ifndef KIVO_MONITOR_HIT_SINK_H
#define KIVO_MONITOR_HIT_SINK_H

#include <vector>

#include "monitor_state.h"

struct HitSinkBuffer {
  bool active = false;     // a consumer is installed
  bool gathering = false;  // ... and wants the hits of the event being decoded
  std::vector<unsigned> pixels[NSTAVE];
};

extern HitSinkBuffer hit_sink_buffer;

// Adds `n` decoded hits of chip `chip` of stave `stave` (chip rows and
// columns 0..65535), those in range only.
inline void gather_sink_hits(int stave, int chip, const int* irow, const int* icol, int n) {
  std::vector<unsigned>& pixels = hit_sink_buffer.pixels[stave];
  const unsigned first_column = static_cast<unsigned>(chip) * 1024u;
  for (int i = 0; i < n; i++) {
    const unsigned col = static_cast<unsigned>(icol[i]), row = static_cast<unsigned>(irow[i]);
    if (col < 1024u && row < static_cast<unsigned>(kPixelKeyRows))
      pixels.push_back((first_column + col) * kPixelKeyRows + row);
  }
}

// Asks the consumer whether it wants the hits of the event about to be decoded.
void start_sink_event();
// Hands the gathered hits (or, when the consumer did not want them, the
// count of each stave's decoded hits, `npixels`) to the consumer and
// empties the buffers.
void hand_sink_hits(const int (&npixels)[NSTAVE]);
// Tells the consumer that the raw histograms were emptied.
void tell_sink_reset();

#endif
