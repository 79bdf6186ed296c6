// The consumer of the decoded hits and the buffers that gather them.
#include "hit_sink.h"

#include "monitor_plugin.h"

HitSinkBuffer hit_sink_buffer;

namespace {

KivoHitSink installed_sink{};

}  // namespace

int kivo_set_hit_sink(const KivoHitSink* sink) {
  installed_sink = sink ? *sink : KivoHitSink{};
  hit_sink_buffer.active = installed_sink.event != nullptr;
  for (std::vector<unsigned>& pixels : hit_sink_buffer.pixels) pixels.clear();
  return 0;
}

void start_sink_event() {
  hit_sink_buffer.gathering =
      hit_sink_buffer.active && (!installed_sink.wants || installed_sink.wants(installed_sink.context) != 0);
}

void hand_sink_hits(const int (&npixels)[NSTAVE]) {
  if (!hit_sink_buffer.active) return;
  static const unsigned none[1] = {0};  // where a stave without hits points
  KivoEventHits hits{};
  for (int s = 0; s < NSTAVE; s++) {
    const bool gathered = hit_sink_buffer.gathering;
    const std::vector<unsigned>& pixels = hit_sink_buffer.pixels[s];
    hits.pixels[s] = gathered ? (pixels.empty() ? none : pixels.data()) : nullptr;
    hits.count[s] = gathered ? static_cast<int>(hit_sink_buffer.pixels[s].size()) : npixels[s];
  }
  installed_sink.event(&hits, installed_sink.context);
  for (std::vector<unsigned>& pixels : hit_sink_buffer.pixels) pixels.clear();
  hit_sink_buffer.gathering = false;
}

void tell_sink_reset() {
  if (installed_sink.reset) installed_sink.reset(installed_sink.context);
}
