#include "HotPixelFilter.h"

namespace kivo::tracking {

void HotPixelFilter::count(const unsigned* keys, int n) {
  for (int i = 0; i < n; ++i) {
    Bucket& b = buckets_[bucket(keys[i])];
    if (b.key == keys[i]) {
      ++b.count;
    } else if (b.count > 0) {
      --b.count;
    } else {
      b.key = keys[i];
      b.count = 1;
    }
  }
  if (++sampled_ == kWindow) judge_window();
}

void HotPixelFilter::judge_window() {
  hot_bits_.fill(0);
  hot_count_ = 0;
  const int least = static_cast<int>(kHotShare * kWindow);
  for (std::uint32_t i = 0; i < kBuckets; ++i) {
    Bucket& b = buckets_[i];
    if (b.count >= least) {
      hot_bits_[i / 64] |= std::uint64_t{1} << (i % 64);
      hot_keys_[i] = b.key;
      ++hot_count_;
    }
    b.count = 0;
  }
  sampled_ = 0;
  ++windows_;
}

void HotPixelFilter::keep_cold(const unsigned* keys, int n, std::vector<unsigned>& out) const {
  out.clear();
  if (hot_count_ == 0) {
    out.assign(keys, keys + n);
    return;
  }
  for (int i = 0; i < n; ++i)
    if (!hot(keys[i])) out.push_back(keys[i]);
}

void HotPixelFilter::reset() { *this = HotPixelFilter(); }

}  // namespace kivo::tracking
