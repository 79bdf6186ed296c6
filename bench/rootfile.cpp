// ROOT files: save("x.root") after a simulated run, through the command's own
// code (the monitor found by name as kivo finds it), against zlib compressing
// the bytes of the same hit maps at the same level; and the file's size
// against that of the JSON save of the same run.
#include <stdlib.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "EventRecord.h"
#include "MonitorObjects.h"
#include "MonitorPlugin.h"
#include "RootCompression.h"
#include "TH2F.h"
#include "bench.h"
#include "monitor_maps.h"
#include "sample_run.h"
#include "monitor_plugin.h"
#include "kivo.h"
#include "monitor_state.h"

namespace {

constexpr std::uint32_t kEvents = 20000;
constexpr int kRuns = 5;
constexpr int kLevel = rootcompat::kDefaultCompression % 100;

// A directory of its own for the files written, removed at the end.
class ScratchDirectory {
 public:
  ScratchDirectory() {
    char pattern[] = "/tmp/kivo-bench-save-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    path_ = made ? made : "";
  }
  ~ScratchDirectory() {
    if (!path_.empty()) std::filesystem::remove_all(path_);
  }
  std::string File(const char* name) const { return path_ + "/" + name; }
  bool Usable() const { return !path_.empty(); }

 private:
  std::string path_;
};

// The monitor as save() finds it after a simulated run and one refresh.
void simulated_run() { kivo::bench::process_sample_run(kEvents); }

std::vector<const TH2F*> hit_maps() {
  std::vector<const TH2F*> maps;
  for (int s = 0; s < NSTAVE; s++)
    for (const TH2F* map : {h2d_chip[s], h2d_chip_norm[s]})
      if (map) maps.push_back(map);
  return maps;
}

void compress_maps(const std::vector<const TH2F*>& maps, std::vector<Bytef>& out) {
  for (const TH2F* map : maps) {
    const uLong bytes = uLong(map->GetSize()) * sizeof(Float_t);
    out.resize(compressBound(bytes));
    uLongf size = uLongf(out.size());
    compress2(out.data(), &size, reinterpret_cast<const Bytef*>(map->GetArray()), bytes, kLevel);
    kivo::bench::keep(size);
  }
}

// The monitor library as kivo loads it; null, said on standard error, when it cannot be.
std::unique_ptr<kivo::host::MonitorPlugin> monitor_library() {
  std::string error;
  auto plugin = kivo::host::MonitorPlugin::load(kivo::host::default_plugin_path(), error);
  if (!plugin) std::fprintf(stderr, "kivo-bench: %s\n", error.c_str());
  return plugin;
}

// The monitor after a simulated run, the library as kivo loads it, and a
// directory for the files saved.
struct SaveSetup {
  SaveSetup() { simulated_run(); }
  bool Usable() const { return plugin && scratch.Usable(); }

  std::unique_ptr<kivo::host::MonitorPlugin> plugin = monitor_library();
  ScratchDirectory scratch;
};

bool save(const kivo::host::MonitorObjects& objects, const std::string& path) {
  std::string error;
  if (objects.save(path, error)) return true;
  std::fprintf(stderr, "kivo-bench: save: %s\n", error.c_str());
  return false;
}

kivo::bench::Result root_save_time() {
  const SaveSetup setup;
  if (!setup.Usable()) return {};
  const kivo::host::MonitorObjects objects(*setup.plugin);
  const std::string path = setup.scratch.File("x.root");
  const auto maps = hit_maps();
  std::vector<Bytef> compressed;
  bool saved = true;
  double path_seconds = 0, limit_seconds = 0;
  kivo::bench::alternate_best_seconds(
      kRuns, [&] { saved = save(objects, path) && saved; }, [&] { compress_maps(maps, compressed); },
      path_seconds, limit_seconds);
  if (!saved) return {};
  return kivo::bench::time_result(path_seconds,
                                  "zlib-compress the " + std::to_string(maps.size()) +
                                      " hit maps' bytes at level " + std::to_string(kLevel),
                                  limit_seconds, 3.0);
}

kivo::bench::Result root_file_size() {
  const SaveSetup setup;
  if (!setup.Usable()) return {};
  const kivo::host::MonitorObjects objects(*setup.plugin);
  const std::string root = setup.scratch.File("x.root");
  const std::string json = setup.scratch.File("x.json");
  if (!save(objects, root) || !save(objects, json)) return {};
  return kivo::bench::amount_result(double(std::filesystem::file_size(root)) / 1e6, "the JSON save of the same run",
                                    double(std::filesystem::file_size(json)) / 1e6, "MB", 0.5);
}

}  // namespace

KIVO_BENCH("save root", "save(\"x.root\") after a simulated run and one refresh", root_save_time);
KIVO_BENCH("root file size", "the size of save(\"x.root\") after a simulated run", root_file_size);
