// The run archive's copy of the run the monitor holds, taken on the event
// thread when the run ends: the monitor's copy of its raw objects (whose
// derived objects are computed on the writer thread, for that run alone),
// the data-quality verdicts and trends as they stand, and the run's metadata.
#ifndef KIVO_HOST_ARCHIVE_COPY_H
#define KIVO_HOST_ARCHIVE_COPY_H

#include <string>

#include "MonitorPlugin.h"
#include "Quality.h"
#include "RunArchive.h"
#include "Tracker.h"

namespace kivo::host {

// False with `error` when the monitor has nothing to copy (not booked).
// The tracking objects (none when `tracker` is null) are copied now and
// written after the verdicts, as save() lists them.
bool copy_monitor_run(const MonitorPlugin& plugin, const quality::Quality& quality, tracking::Tracker* tracker,
                      const RunFacts& facts, RunArchive::RunCopy& copy, std::string& error);

}  // namespace kivo::host

#endif
