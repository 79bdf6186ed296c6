// The pixels of one stave that fire in a large share of the events, left out
// of the clusters: a pixel firing in most events would pair with stave 3's
// in every event and make a false peak of the alignment's correlation, and
// sit under tracks as a false match. Counted on a sample of the events in a
// small table (each bucket keeps the pixel it holds while that pixel comes
// more often than the others hashed there), judged once per window.
#ifndef KIVO_TRACKING_HOT_PIXEL_FILTER_H
#define KIVO_TRACKING_HOT_PIXEL_FILTER_H

#include <array>
#include <cstdint>
#include <vector>

namespace kivo::tracking {

class HotPixelFilter {
 public:
  static constexpr int kBuckets = 4096;
  // Sampled events per window, and the share of them a pixel must fire in.
  static constexpr int kWindow = 256;
  static constexpr double kHotShare = 0.1;

  // Counts the pixels of one sampled event.
  void count(const unsigned* keys, int n);
  // Whether a first window has been judged.
  bool ready() const { return windows_ > 0; }
  bool hot(unsigned key) const {
    const std::uint32_t b = bucket(key);
    return (hot_bits_[b / 64] >> (b % 64) & 1) && hot_keys_[b] == key;
  }
  // Copies the keys of `keys` that are not hot into `out`.
  void keep_cold(const unsigned* keys, int n, std::vector<unsigned>& out) const;
  int hot_count() const { return hot_count_; }
  void reset();

 private:
  static std::uint32_t bucket(unsigned key) { return (key * 2654435761u) >> 20; }
  void judge_window();

  struct Bucket {
    unsigned key = 0;
    std::int32_t count = 0;
  };
  std::array<Bucket, kBuckets> buckets_{};
  std::array<std::uint64_t, kBuckets / 64> hot_bits_{};
  std::array<unsigned, kBuckets> hot_keys_{};
  int sampled_ = 0;
  int windows_ = 0;
  int hot_count_ = 0;
};

}  // namespace kivo::tracking

#endif
