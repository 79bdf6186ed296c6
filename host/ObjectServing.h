// The monitor's objects as ROOT's web protocol lists and serves them
// (web/RootProtocol.h): the monitor's own at the top of the hierarchy, the
// data quality's (verdicts, trends, profiles) in the folder Quality, the
// canvases in Canvases. Everything here runs on the event thread: it reads
// the monitor's objects and hands over copies.
#ifndef KIVO_HOST_OBJECT_SERVING_H
#define KIVO_HOST_OBJECT_SERVING_H

#include <vector>

#include "MonitorObjects.h"
#include "MonitorPlugin.h"
#include "ObjectShelf.h"

namespace kivo::host {

// The objects there are now, by their paths in the hierarchy.
std::vector<web::ShelfEntry> shelf_entries(const MonitorObjects& objects);

// Copies the objects `shelf` waits for, the monitor's objects being at
// `version`; the hit maps are made whole first when one of them is copied.
void serve_objects(web::ObjectShelf& shelf, const MonitorObjects& objects, const MonitorPlugin& plugin, long version);

}  // namespace kivo::host

#endif
