// ROOT-compatible layer: whole-map passes through TH2F::GetArray() against the
// same passes over a plain float array, and serialising four sparse hit maps
// to ROOT JSON against multiply-copying the four maps.
#include <algorithm>
#include <cstddef>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "RootJSON.h"
#include "TH2F.h"
#include "TList.h"
#include "bench.h"
#include "map_pass.h"

namespace {

constexpr int kRuns = 5;
constexpr int kMaps = 4;
constexpr int kColumns = 9216;
constexpr int kRows = 512;
constexpr std::size_t kCells = std::size_t{kColumns + 2} * (kRows + 2);

std::unique_ptr<TH2F> make_map(const char* name) {
  auto map = std::make_unique<TH2F>(name, ";col;row;hits", kColumns, -0.5, kColumns - 0.5, kRows, -0.5, kRows - 0.5);
  map->SetDirectory(nullptr);
  return map;
}

// Copy, scale, reset: the passes the monitor makes over its maps.
template <class Copy, class Scale, class Reset>
double three_passes(Copy&& copy, Scale&& scale, Reset&& reset) {
  return kivo::bench::best_seconds(kRuns, [&] {
    copy();
    scale();
    reset();
  });
}

kivo::bench::Result map_passes() {
  const auto source = make_map("bench_source");
  const auto target = make_map("bench_target");
  std::fill_n(source->GetArray(), kCells, 3.0f);
  const double path = three_passes(
      [&] {
        const float* in = source->GetArray();
        float* out = target->GetArray();
        for (std::size_t i = 0; i < kCells; i++) out[i] = in[i];
        kivo::bench::keep(out);
      },
      [&] {
        float* cells = target->GetArray();
        for (std::size_t i = 0; i < kCells; i++) cells[i] *= 0.001f;
        kivo::bench::keep(cells);
      },
      [&] { target->Reset(""); });

  std::vector<float> plain_source(kCells, 3.0f);
  std::vector<float> plain_target(kCells);
  const double limit = three_passes(
      [&] {
        for (std::size_t i = 0; i < kCells; i++) plain_target[i] = plain_source[i];
        kivo::bench::keep(plain_target);
      },
      [&] {
        for (std::size_t i = 0; i < kCells; i++) plain_target[i] *= 0.001f;
        kivo::bench::keep(plain_target);
      },
      [&] {
        std::fill(plain_target.begin(), plain_target.end(), 0.0f);
        kivo::bench::keep(plain_target);
      });
  return kivo::bench::time_result(path, "copy, scale and zero a plain 9218x514 float array", limit, 1.5);
}

// Four maps with 5% of their pixels hit, contents normalised to 1000 events.
std::vector<std::unique_ptr<TH2F>> sparse_maps() {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> column(1, kColumns);
  std::uniform_int_distribution<int> row(1, kRows);
  std::uniform_int_distribution<int> hits(1, 40);
  std::vector<std::unique_ptr<TH2F>> maps;
  for (int s = 0; s < kMaps; s++) {
    maps.push_back(make_map(("bench_map_" + std::to_string(s)).c_str()));
    for (int i = 0; i < kColumns * kRows / 20; i++)
      maps.back()->SetBinContent(column(rng), row(rng), hits(rng) / 1000.0);
  }
  return maps;
}

// Against the monitor's other whole-map passes' limit, taken in turns with
// the serialisation so that both see the machine in the same state.
kivo::bench::Result serialise_maps() {
  const auto maps = sparse_maps();
  TList snapshot;  // one document, as a canvas snapshot is
  for (const auto& map : maps) snapshot.Add(map.get());
  return kivo::bench::map_pass_result([&] { kivo::bench::keep(rootcompat::ToJSON(snapshot)); }, 3.0);
}

}  // namespace

KIVO_BENCH("rootcompat map passes", "copy, scale and Reset a 9218x514 TH2F through GetArray()", map_passes);
KIVO_BENCH("rootcompat JSON", "serialise four 9218x514 TH2F maps, 5% filled, to ROOT JSON", serialise_maps);
