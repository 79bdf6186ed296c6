// Clusters of one stave in one event: hit pixels joined when they touch
// (8 neighbours), never across the border of two chips.
#ifndef KIVO_TRACKING_CLUSTERS_H
#define KIVO_TRACKING_CLUSTERS_H

#include <array>
#include <vector>

#include "TrackingSettings.h"

namespace kivo::tracking {

struct Cluster {
  double column;  // centre: mean stave-wide column of its pixels
  double row;     // mean chip row
  int size;       // pixels
};

// The clusters of one event and of the event taken before it, per stave;
// null where a stave was left out (or there is no event before).
struct EventClusters {
  std::array<const std::vector<Cluster>*, kStaves> now{}, before{};
};

// Reused between events, so that clustering allocates nothing once warm.
struct ClusterScratch {
  std::vector<int> parent;
  std::vector<int> first;  // per pixel: the cluster slot of its root, -1 before
  std::vector<double> column_sum, row_sum;
  std::vector<int> size;
};

// Groups `keys` (pixel keys, column * 512 + chip row, of one stave) into
// clusters and replaces `out` with them, ordered by centre column. `keys`
// may be reordered; a pixel listed twice counts once.
void build_clusters(std::vector<unsigned>& keys, std::vector<Cluster>& out, ClusterScratch& scratch);

}  // namespace kivo::tracking

#endif
