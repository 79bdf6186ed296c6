#include "Clusters.h"

#include <algorithm>
#include <cstdint>

namespace kivo::tracking {

namespace {

constexpr unsigned kRowsPerColumn = 512;
constexpr unsigned kChipColumns = 1024;

// Insertion sort below this many keys (a few dozen in a normal event).
constexpr std::size_t kSmallSort = 48;

void sort_keys(std::vector<unsigned>& keys) {
  if (keys.size() > kSmallSort) {
    std::sort(keys.begin(), keys.end());
    return;
  }
  for (std::size_t i = 1; i < keys.size(); ++i) {
    const unsigned key = keys[i];
    std::size_t j = i;
    for (; j > 0 && keys[j - 1] > key; --j) keys[j] = keys[j - 1];
    keys[j] = key;
  }
}

int root_of(std::vector<int>& parent, int i) {
  while (parent[static_cast<std::size_t>(i)] != i) {
    int& p = parent[static_cast<std::size_t>(i)];
    p = parent[static_cast<std::size_t>(p)];
    i = p;
  }
  return i;
}

void join(std::vector<int>& parent, int a, int b) {
  a = root_of(parent, a);
  b = root_of(parent, b);
  if (a != b) parent[static_cast<std::size_t>(std::max(a, b))] = std::min(a, b);
}

// Joins each pixel with the touching pixels before it in key order: the one
// below it in its column and the three beside it in the column before,
// unless that column lies on the chip before.
void join_neighbours(const std::vector<unsigned>& keys, std::vector<int>& parent) {
  const int n = static_cast<int>(keys.size());
  int previous = 0;  // first key that may lie in the column before the current one
  for (int i = 0; i < n; ++i) {
    parent[static_cast<std::size_t>(i)] = i;
    const unsigned key = keys[static_cast<std::size_t>(i)];
    const unsigned column = key / kRowsPerColumn, row = key % kRowsPerColumn;
    if (i > 0 && row > 0 && keys[static_cast<std::size_t>(i - 1)] == key - 1) join(parent, i, i - 1);
    if (column == 0 || column % kChipColumns == 0) continue;
    const unsigned lowest = key - kRowsPerColumn - (row > 0 ? 1 : 0);
    const unsigned highest = key - kRowsPerColumn + (row + 1 < kRowsPerColumn ? 1 : 0);
    while (previous < i && keys[static_cast<std::size_t>(previous)] < lowest) ++previous;
    for (int j = previous; j < i && keys[static_cast<std::size_t>(j)] <= highest; ++j) join(parent, i, j);
  }
}

// The sums of each cluster, by the root pixel of its pixels.
void start_sums(ClusterScratch& scratch, std::size_t pixels) {
  scratch.first.assign(pixels, -1);
  scratch.column_sum.clear();
  scratch.row_sum.clear();
  scratch.size.clear();
}

void add_pixel(ClusterScratch& scratch, std::size_t root, unsigned key) {
  int& slot = scratch.first[root];
  if (slot < 0) {
    slot = static_cast<int>(scratch.size.size());
    scratch.column_sum.push_back(0);
    scratch.row_sum.push_back(0);
    scratch.size.push_back(0);
  }
  const std::size_t c = static_cast<std::size_t>(slot);
  scratch.column_sum[c] += key / kRowsPerColumn;
  scratch.row_sum[c] += key % kRowsPerColumn;
  scratch.size[c] += 1;
}

void emit_clusters(const ClusterScratch& scratch, std::vector<Cluster>& out) {
  for (std::size_t c = 0; c < scratch.size.size(); ++c) {
    const double size = scratch.size[c];
    out.push_back({scratch.column_sum[c] / size, scratch.row_sum[c] / size, scratch.size[c]});
  }
}

// Few pixels, as in nearly every event: each pixel is entered in a small
// hash table, then looks up the four neighbours on one side of it (the
// other four find it in turn), joining the clusters of those present. No
// sort is needed.
constexpr std::size_t kFewPixels = 64;
constexpr unsigned kSlotBits = 8;  // 256 slots for at most 64 pixels
constexpr unsigned kEmpty = ~0u;

struct PixelTable {
  unsigned keys[1u << kSlotBits];
  int index[1u << kSlotBits];

  static unsigned slot(unsigned key) { return (key * 2654435761u) >> (32 - kSlotBits); }
  // The index of the pixel first entered with `key`; -1 if none.
  int find(unsigned key) const {
    for (unsigned s = slot(key);; s = (s + 1) & ((1u << kSlotBits) - 1)) {
      if (keys[s] == key) return index[s];
      if (keys[s] == kEmpty) return -1;
    }
  }
  // False when `key` was entered before.
  bool enter(unsigned key, int i) {
    for (unsigned s = slot(key);; s = (s + 1) & ((1u << kSlotBits) - 1)) {
      if (keys[s] == key) return false;
      if (keys[s] == kEmpty) {
        keys[s] = key;
        index[s] = i;
        return true;
      }
    }
  }
};

void cluster_few(const std::vector<unsigned>& keys, std::vector<Cluster>& out, ClusterScratch& scratch) {
  const int n = static_cast<int>(keys.size());
  PixelTable table;
  std::fill(std::begin(table.keys), std::end(table.keys), kEmpty);
  int parent[kFewPixels];
  bool counted[kFewPixels];
  for (int i = 0; i < n; ++i) {
    parent[i] = i;
    counted[i] = table.enter(keys[static_cast<std::size_t>(i)], i);
  }
  auto root = [&parent](int i) {
    while (parent[i] != i) i = parent[i] = parent[parent[i]];
    return i;
  };
  for (int i = 0; i < n; ++i) {
    if (!counted[i]) continue;
    const unsigned key = keys[static_cast<std::size_t>(i)];
    const unsigned column = key / kRowsPerColumn, row = key % kRowsPerColumn;
    unsigned neighbours[4];
    int m = 0;
    if (row > 0) neighbours[m++] = key - 1;
    if (column % kChipColumns != 0) {
      neighbours[m++] = key - kRowsPerColumn;
      if (row > 0) neighbours[m++] = key - kRowsPerColumn - 1;
      if (row + 1 < kRowsPerColumn) neighbours[m++] = key - kRowsPerColumn + 1;
    }
    for (int k = 0; k < m; ++k) {
      const int j = table.find(neighbours[k]);
      if (j < 0) continue;
      const int a = root(i), b = root(j);
      if (a != b) parent[std::max(a, b)] = std::min(a, b);
    }
  }
  start_sums(scratch, static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i)
    if (counted[i]) add_pixel(scratch, static_cast<std::size_t>(root(i)), keys[static_cast<std::size_t>(i)]);
  emit_clusters(scratch, out);
}

// Many pixels: sorted, joined with their neighbours through a union-find.
void cluster_many(std::vector<unsigned>& keys, std::vector<Cluster>& out, ClusterScratch& scratch) {
  sort_keys(keys);
  keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
  const std::size_t n = keys.size();
  scratch.parent.resize(n);
  join_neighbours(keys, scratch.parent);
  start_sums(scratch, n);
  for (std::size_t i = 0; i < n; ++i)
    add_pixel(scratch, static_cast<std::size_t>(root_of(scratch.parent, static_cast<int>(i))), keys[i]);
  emit_clusters(scratch, out);
}

}  // namespace

void build_clusters(std::vector<unsigned>& keys, std::vector<Cluster>& out, ClusterScratch& scratch) {
  out.clear();
  if (keys.empty()) return;
  if (keys.size() <= kFewPixels)
    cluster_few(keys, out, scratch);
  else
    cluster_many(keys, out, scratch);
  // By centre column; nearly in that order already.
  for (std::size_t i = 1; i < out.size(); ++i) {
    const Cluster cluster = out[i];
    std::size_t j = i;
    for (; j > 0 && out[j - 1].column > cluster.column; --j) out[j] = out[j - 1];
    out[j] = cluster;
  }
}

}  // namespace kivo::tracking
