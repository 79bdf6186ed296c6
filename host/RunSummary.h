// A run's summary figures, the numbers the run registry compares across
// runs: each stave's hits per event, fitted beam position and width (column
// and row, from the run's derived beam fits), hot pixels (firing at the
// run's last judgement), the share of data events without the detector
// packet, and each chip's efficiency from the tracks (matched over tracks
// predicted on it, for the chips that had tracks). A run file keeps each as
// a TNamed "summary_<figure>" whose title is the number, so that a registry
// rebuilt from the files reads the same figures as the one written live.
#ifndef KIVO_HOST_RUN_SUMMARY_H
#define KIVO_HOST_RUN_SUMMARY_H

#include <array>
#include <memory>
#include <optional>
#include <vector>

#include "Quality.h"

class TObject;

namespace kivo::host {

class RunSummary {
 public:
  static constexpr int kStaves = quality::kStaves;
  static constexpr int kChips = quality::kChips;

  // The hot pixels of `quality`'s last judgement, when it judged run `run`.
  void take_hot_pixels(const quality::Quality& quality, int run);
  // Looks at an object of the run as it is written: the packet count, the
  // hit rates per stave, the beam fits and the tracks' maps.
  void look_at(const TObject& object);
  // The figures as TNamed objects, joining no directory; `data_events`: of
  // the run, with or without the packet.
  std::vector<std::unique_ptr<TObject>> objects(long data_events) const;

 private:
  struct Beam {
    double column, row, column_width, row_width;
  };
  std::optional<double> packet_events_;
  std::array<std::optional<double>, kStaves> hits_per_event_{};
  std::array<std::optional<Beam>, kStaves> beams_{};
  std::array<std::optional<double>, kStaves> hot_pixels_{};
  // Per stave and chip: tracks predicted there, and those matched.
  using ChipCounts = std::array<double, kChips>;
  std::array<std::optional<ChipCounts>, kStaves> tracks_{};
  std::array<std::optional<ChipCounts>, kStaves> matched_{};
};

}  // namespace kivo::host

#endif
