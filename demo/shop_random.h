// The sample shop's random numbers: splitmix64, so that a seed gives the
// same shop with any standard library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace sa::demo {

class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed ^ 0x5EED5A1E5C0FFEEull) {}

  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in lo..hi, both included.
  int Between(int lo, int hi) {
    return lo + static_cast<int>(Next() % static_cast<uint64_t>(hi - lo + 1));
  }
  bool Percent(int p) { return Between(0, 99) < p; }
  // An index drawn with the given weights.
  size_t Weighted(std::span<const int> weights) {
    int total = 0;
    for (const int w : weights) total += w;
    int r = Between(0, total - 1);
    for (size_t i = 0; i < weights.size(); ++i) {
      if (r < weights[i]) return i;
      r -= weights[i];
    }
    return weights.size() - 1;
  }

 private:
  uint64_t state_;
};

}  // namespace sa::demo
