// ROOT's web protocol (THttpServer's), read-only, so that any JSROOT browses
// kivo as it browses a ROOT application:
//
//   /h.json                  the hierarchy: the monitor's objects at the top,
//                            folders of the others (Canvases, Quality, ...)
//                            and Runs, one item per archived run file
//   /ITEM/root.json          the object in ROOT JSON
//   /ITEM/root.json.gz       the same, gzip-compressed (Content-Encoding: gzip)
//   /Runs/FILE/h.json        the keys of an archived run file
//   /Runs/FILE/KEY/root.json an object of that file, read from it
//
// ?compact=N (JSROOT asks h.json?compact=3 and root.json.gz?compact=23) is
// accepted for N of TBufferJSON's levels; the arrays are always in the
// compressed "$arr" form, which JSROOT reads at any level. Nothing that
// runs a command or changes state (exe.json, cmd.json, item.json, ...) is
// served.
#ifndef KIVO_HOST_WEB_ROOT_PROTOCOL_H
#define KIVO_HOST_WEB_ROOT_PROTOCOL_H

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ArchiveListing.h"
#include "ObjectShelf.h"
#include "RootFileKeys.h"

namespace kivo::web {

// The folder of archived run files in the hierarchy.
inline constexpr std::string_view kRunsFolder = "Runs";

struct ProtocolRequest {
  enum class Kind { hierarchy, object };
  Kind kind = Kind::hierarchy;
  std::string item;  // "" for the top, else "h2d_chip_2", "Runs/run7.root", ...
  bool gzip = false;  // asked as root.json.gz
};

// Whether `path` is a request of the protocol: one ending in h.json,
// root.json or root.json.gz, or in another of THttpServer's request names
// (which are refused). With one, `request` says what it asks, or `problem`
// why it is refused.
bool parse_protocol_path(std::string_view path, std::optional<ProtocolRequest>& request, std::string& problem);

// Whether `compact` (the query's value, empty when absent) is a level of TBufferJSON.
bool valid_compact(const std::string& compact);

// The hierarchy of `entries` (paths with '/' between folders), with the
// archived `runs` in the Runs folder; `monitoring_ms` is the refresh JSROOT's
// monitoring starts with.
std::string hierarchy_json(const std::vector<ShelfEntry>& entries, const std::vector<ArchivedRun>& runs,
                           int monitoring_ms);

// The keys of an archived run file as the children of its item.
std::string file_hierarchy_json(const std::string& file, const rootcompat::FileKeys& keys);

}  // namespace kivo::web

#endif
