#include "Clusters.h"

#include <algorithm>

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

}  // namespace

void build_clusters(std::vector<unsigned>& keys, std::vector<Cluster>& out, ClusterScratch& scratch) {
  out.clear();
  sort_keys(keys);
  keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
  const std::size_t n = keys.size();
  if (n == 0) return;
  scratch.parent.resize(n);
  join_neighbours(keys, scratch.parent);
  scratch.first.assign(n, -1);
  scratch.column_sum.clear();
  scratch.row_sum.clear();
  scratch.size.clear();
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t root = static_cast<std::size_t>(root_of(scratch.parent, static_cast<int>(i)));
    int& slot = scratch.first[root];
    if (slot < 0) {
      slot = static_cast<int>(scratch.size.size());
      scratch.column_sum.push_back(0);
      scratch.row_sum.push_back(0);
      scratch.size.push_back(0);
    }
    const std::size_t c = static_cast<std::size_t>(slot);
    scratch.column_sum[c] += keys[i] / kRowsPerColumn;
    scratch.row_sum[c] += keys[i] % kRowsPerColumn;
    scratch.size[c] += 1;
  }
  for (std::size_t c = 0; c < scratch.size.size(); ++c) {
    const double size = scratch.size[c];
    out.push_back({scratch.column_sum[c] / size, scratch.row_sum[c] / size, scratch.size[c]});
  }
  // Slots are in the order of each cluster's first key, nearly by column.
  for (std::size_t i = 1; i < out.size(); ++i) {
    const Cluster cluster = out[i];
    std::size_t j = i;
    for (; j > 0 && out[j - 1].column > cluster.column; --j) out[j] = out[j - 1];
    out[j] = cluster;
  }
}

}  // namespace kivo::tracking
