#include "ArchiveCopy.h"

#include <memory>
#include <vector>

#include "RootStreamer.h"
#include "TDirectory.h"
#include "TList.h"

namespace kivo::host {

namespace {

// Histograms of a run file carry the no-statistics bit: the canvas draws
// them so, and ROOT then draws them as the page does.
constexpr bool kNoStats = true;

using Streamed = std::vector<rootcompat::StreamedObject>;

bool stream_into(const TObject& object, Streamed& streamed, std::string& error) {
  streamed.emplace_back();
  return rootcompat::StreamObject(object, nullptr, streamed.back(), error, kNoStats);
}

// The verdicts, trends and metadata: small, streamed now, while they hold
// what they hold at the end of the run.
bool stream_small_objects(const quality::Quality& quality, const RunFacts& facts, Streamed& streamed,
                          std::string& error) {
  TList saved;
  quality.add_saved_objects(saved);
  TIter next(&saved);
  while (TObject* object = next())
    if (!stream_into(*object, streamed, error)) return false;
  for (const std::unique_ptr<TObject>& object : run_metadata(facts, quality, KIVO_MASK_DIR))
    if (!stream_into(*object, streamed, error)) return false;
  return true;
}

// What a visit of the monitor's copy needs: where its objects go, and the
// first failure.
struct Visit {
  const AddObject* add;
  std::string error;
};

int add_visited(const TObject* object, void* context) {
  Visit& visit = *static_cast<Visit*>(context);
  rootcompat::StreamedObject streamed;
  if (!rootcompat::StreamObject(*object, nullptr, streamed, visit.error, kNoStats)) return 1;
  return (*visit.add)(std::move(streamed), visit.error) ? 0 : 1;
}

using Copies = std::vector<std::unique_ptr<TObject>>;

// Copies of the tracking objects as they stand, in no directory.
std::shared_ptr<Copies> copy_tracking(tracking::Tracker* tracker) {
  auto copies = std::make_shared<Copies>();
  if (!tracker) return copies;
  TList objects;
  tracker->add_saved_objects(objects);
  const TDirectory::TContext unregistered(nullptr);
  TIter next(&objects);
  while (TObject* object = next()) copies->emplace_back(object->Clone());
  return copies;
}

}  // namespace

bool copy_monitor_run(const MonitorPlugin& plugin, const quality::Quality& quality, tracking::Tracker* tracker,
                      const RunFacts& facts, RunArchive::RunCopy& copy, std::string& error) {
  const MonitorSymbols& symbols = plugin.symbols();
  KivoRunCopy* taken = symbols.copy_run();
  if (!taken) {
    error = "the monitor's histograms are not booked";
    return false;
  }
  std::shared_ptr<KivoRunCopy> monitor(taken, symbols.free_run);
  auto small = std::make_shared<Streamed>();
  if (!stream_small_objects(quality, facts, *small, error)) return false;
  std::shared_ptr<Copies> tracks = copy_tracking(tracker);
  copy.title = run_file_title(facts);
  copy.objects = [monitor, small, tracks, derive = symbols.derive_run](const AddObject& add, std::string& failure) {
    Visit visit{&add, {}};
    if (derive(monitor.get(), add_visited, &visit) != 0) {
      failure = visit.error;
      return false;
    }
    for (rootcompat::StreamedObject& object : *small)
      if (!add(std::move(object), failure)) return false;
    for (const std::unique_ptr<TObject>& object : *tracks) {
      rootcompat::StreamedObject streamed;
      if (!rootcompat::StreamObject(*object, nullptr, streamed, failure, kNoStats) ||
          !add(std::move(streamed), failure))
        return false;
    }
    return true;
  };
  return true;
}

}  // namespace kivo::host
