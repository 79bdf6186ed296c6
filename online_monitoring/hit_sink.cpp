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

void hand_sink_hits() {
  if (!hit_sink_buffer.active) return;
  KivoEventHits hits{};
  for (int s = 0; s < NSTAVE; s++) {
    hits.pixels[s] = hit_sink_buffer.pixels[s].data();
    hits.count[s] = static_cast<int>(hit_sink_buffer.pixels[s].size());
  }
  installed_sink.event(&hits, installed_sink.context);
  for (std::vector<unsigned>& pixels : hit_sink_buffer.pixels) pixels.clear();
}

void tell_sink_reset() {
  if (installed_sink.reset) installed_sink.reset(installed_sink.context);
}
