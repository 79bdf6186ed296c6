// The registry's tables, which kivo creates in an empty database and brings
// up to its own version in an older one, one kivo at a time:
//
//   kivo_schema          version: the schema's version (one row)
//   kivo_runs            one row per run: stand, run, file, times, counts,
//                        begin/end seen, kivo version, path, size, overall verdict
//   kivo_verdicts        every check's final verdict and reason per stave/chip
//   kivo_figures         the run's summary figures by name (hits_per_event_0, ...)
//   kivo_certifications  the shift's judgements, each kept: verdict, comment,
//                        user and time
//
// A run is one (stand, run, file, first_event): recording it again replaces
// its row's facts, verdicts and figures and keeps its certifications.
#ifndef KIVO_HOST_REGISTRY_SCHEMA_H
#define KIVO_HOST_REGISTRY_SCHEMA_H

#include "Database.h"

namespace kivo::registry {

inline constexpr int kSchemaVersion = 1;

// Creates or migrates the tables; throws DatabaseError (refused: not a
// registry, or one of a newer kivo) naming the registry as `shown`.
void prepare_schema(Database& database, const std::string& shown);

}  // namespace kivo::registry

#endif
