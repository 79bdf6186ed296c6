#include "map_pass.h"

#include <vector>

#include "event_limit.h"

namespace kivo::bench {

namespace {

constexpr int kStaves = 4;
constexpr int kRuns = 7;

}  // namespace

Result map_pass_result(const std::function<void()>& path, double max_ratio) {
  std::vector<std::vector<float>> sources(kStaves, std::vector<float>(kMapCells, 3.0f));
  std::vector<std::vector<float>> targets(kStaves, std::vector<float>(kMapCells));
  const auto multiply_copy = [&] {
    for (int s = 0; s < kStaves; s++) {
      const float* source = sources[s].data();
      float* target = targets[s].data();
      for (std::size_t i = 0; i < kMapCells; i++) target[i] = source[i] * 0.001f;
    }
    keep(targets);
  };
  double path_seconds = 0, limit_seconds = 0;
  silently([&] { alternate_best_seconds(kRuns, path, multiply_copy, path_seconds, limit_seconds); });
  return time_result(path_seconds, kMultiplyCopy, limit_seconds, max_ratio);
}

}  // namespace kivo::bench
