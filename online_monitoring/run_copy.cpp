// The run archive's copy of a run: the raw histograms, frames and beam
// graphs as the monitor holds them when the run ends, and the derived objects
// computed from that copy alone, so that a run's file holds that run's
// rates, normalised maps and beam positions whether or not the monitor has
// refreshed since its last event. Nothing here changes a monitor object;
// the copy is private to whoever holds it, so its derivation may run on
// another thread (objects made meanwhile join no directory).
#include <memory>
#include <vector>

#include "TDirectory.h"
#include "TF1.h"
#include "TGraphAsymmErrors.h"
#include "TH1D.h"
#include "TH1F.h"
#include "TH2F.h"
#include "TList.h"
#include "derivation.h"

namespace {

// Which derived object of a stave an entry of the copy stands for.
enum class Derived { none, hit_rate, warning_rate, error_rate, hits_per_event, map, row_difference, column_difference };

struct Entry {
  std::unique_ptr<TObject> copy;  // null for a derived object
  Derived derived = Derived::none;
  int stave = 0;
};

// The monitor's derived object an entry stands for, when `object` is one.
Entry derived_entry(const TObject* object) {
  if (!object) return {};
  if (object == hhitrate_chip) return {nullptr, Derived::hit_rate, 0};
  if (object == hwarnrate_chip) return {nullptr, Derived::warning_rate, 0};
  if (object == herrrate_chip) return {nullptr, Derived::error_rate, 0};
  for (int i = 0; i < NSTAVE; i++) {
    if (object == hnhit_chip_norm[i]) return {nullptr, Derived::hits_per_event, i};
    if (object == h2d_chip_norm[i]) return {nullptr, Derived::map, i};
    if (object == hdiffrow_chip_norm[i]) return {nullptr, Derived::row_difference, i};
    if (object == hdiffcol_chip_norm[i]) return {nullptr, Derived::column_difference, i};
  }
  return {};
}

// Where the copy of raw object `original` goes among the copy's handles.
template <class Histogram>
void place(const TObject* original, TObject* copy, Histogram* monitor, Histogram*& handle) {
  if (original == monitor) handle = static_cast<Histogram*>(copy);
}

// The derived entries, in the order the monitor's first analysis creates them.
std::vector<Entry> all_derived_entries() {
  std::vector<Entry> entries;
  for (Derived kind : {Derived::hit_rate, Derived::warning_rate, Derived::error_rate})
    entries.push_back({nullptr, kind, 0});
  for (int i = 0; i < NSTAVE; i++)
    for (Derived kind : {Derived::hits_per_event, Derived::map, Derived::row_difference, Derived::column_difference})
      entries.push_back({nullptr, kind, i});
  return entries;
}

}  // namespace

struct KivoRunCopy {
  std::vector<Entry> entries;  // in the order save() writes the monitor's objects
  RunObjects objects;          // the copies and, once derived, the derived objects
  std::vector<std::unique_ptr<TObject>> derived;
  std::unique_ptr<TF1> fit;

  void copy_raw(TObject* original) {
    TObject* copy = original->Clone();
    place(original, copy, hnevnt, objects.hnevnt);
    place(original, copy, hchip, objects.hchip);
    place(original, copy, hwarn, objects.hwarn);
    place(original, copy, herr, objects.herr);
    for (int i = 0; i < NSTAVE; i++) {
      place(original, copy, hnhit_chip[i], objects.hnhit_chip[i]);
      place(original, copy, hdiffrow_chip[i], objects.hdiffrow_chip[i]);
      place(original, copy, hdiffcol_chip[i], objects.hdiffcol_chip[i]);
      place(original, copy, h2d_chip[i], objects.h2d_chip[i]);
    }
    entries.push_back({std::unique_ptr<TObject>(copy), Derived::none, 0});
  }

  // Whether every raw histogram the derivation reads was copied.
  bool complete() const {
    bool all = objects.hnevnt && objects.hchip && objects.hwarn && objects.herr;
    for (int i = 0; i < NSTAVE; i++)
      all = all && objects.hnhit_chip[i] && objects.hdiffrow_chip[i] && objects.hdiffcol_chip[i] && objects.h2d_chip[i];
    return all;
  }

  // The derived histograms other than the maps, owned by the copy.
  void clone_derived_histograms() {
    clone_derived(objects, false);
    for (TObject* object : {static_cast<TObject*>(objects.hhitrate_chip), static_cast<TObject*>(objects.hwarnrate_chip),
                            static_cast<TObject*>(objects.herrrate_chip)})
      derived.emplace_back(object);
    for (int i = 0; i < NSTAVE; i++)
      for (TObject* object : {objects.hnhit_chip_norm[i], objects.hdiffrow_chip_norm[i], objects.hdiffcol_chip_norm[i]})
        derived.emplace_back(object);
  }

  TObject* derived_object(const Entry& entry) const {
    switch (entry.derived) {
      case Derived::hit_rate: return objects.hhitrate_chip;
      case Derived::warning_rate: return objects.hwarnrate_chip;
      case Derived::error_rate: return objects.herrrate_chip;
      case Derived::hits_per_event: return objects.hnhit_chip_norm[entry.stave];
      case Derived::row_difference: return objects.hdiffrow_chip_norm[entry.stave];
      case Derived::column_difference: return objects.hdiffcol_chip_norm[entry.stave];
      case Derived::map:
      case Derived::none: break;
    }
    return nullptr;
  }

  // Stave `stave`'s normalised map as analysis() makes it whole and OM() shows it.
  std::unique_ptr<TH2F> norm_map(int stave, double nevents) const {
    std::unique_ptr<TH2F> map(clone_norm_map(objects.h2d_chip[stave], stave));
    if (nevents > 0) normalise_map(*objects.h2d_chip[stave], nevents, *map);
    set_norm_map_range(map.get());
    return map;
  }
};

KivoRunCopy* kivo_copy_run() {
  if (!init_done) return nullptr;
  auto copy = std::make_unique<KivoRunCopy>();
  std::vector<TObject*> listed;
  TIter next(gDirectory->GetList());
  while (TObject* object = next()) listed.push_back(object);
  const TDirectory::TContext unregistered(nullptr);
  bool derived_listed = false;
  for (TObject* object : listed) {
    Entry entry = derived_entry(object);
    derived_listed = derived_listed || entry.derived != Derived::none;
    if (entry.derived != Derived::none)
      copy->entries.push_back(std::move(entry));
    else
      copy->copy_raw(object);
  }
  // Before the first analysis the monitor has no derived objects; the run's
  // file has them where that analysis would list them, after the raw ones.
  if (!derived_listed)
    for (Entry& entry : all_derived_entries()) copy->entries.push_back(std::move(entry));
  for (int i = 0; i < NSTAVE; i++) {
    auto* graph = static_cast<TGraphAsymmErrors*>(gmpos_chip[i]->Clone());
    graph->Set(0);
    copy->objects.gmpos_chip[i] = graph;
    copy->entries.push_back({std::unique_ptr<TObject>(graph), Derived::none, 0});
  }
  copy->fit = std::make_unique<TF1>(*fg);
  copy->objects.fit = copy->fit.get();
  return copy.release();
}

int kivo_derive_run(KivoRunCopy* copy, int (*visit)(const TObject* object, void* context), void* context) {
  const TDirectory::TContext unregistered(nullptr);
  RunObjects& objects = copy->objects;
  const bool complete = copy->complete();
  if (complete && copy->derived.empty()) copy->clone_derived_histograms();
  const double nevents = complete ? objects.hnevnt->Integral("") : 0;
  if (nevents > 0) {
    MapSummary summaries[NSTAVE];
    const MapSummary* read[NSTAVE];
    for (int i = 0; i < NSTAVE; i++) {
      summarise_map(*objects.h2d_chip[i], summaries[i]);
      read[i] = &summaries[i];
    }
    derive(objects, read, nevents);
  }
  for (const Entry& entry : copy->entries) {
    int stop = 0;
    if (entry.copy)
      stop = visit(entry.copy.get(), context);
    else if (!complete)
      continue;
    else if (entry.derived == Derived::map)
      stop = visit(copy->norm_map(entry.stave, nevents).get(), context);
    else
      stop = visit(copy->derived_object(entry), context);
    if (stop != 0) return -1;
  }
  return 0;
}

void kivo_free_run(KivoRunCopy* copy) { delete copy; }
