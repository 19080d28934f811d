// Record identities kept as stretches of consecutive values. A table filled
// in date order gives a few stretches per month, so a run's identities cost
// next to nothing until they are expanded, and a statement can name a
// stretch by its bounds instead of each identity.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace sa::dbengine {

class IdentityStretches {
 public:
  // `count` identities first, first + 1, ...; `at` is the position of the
  // stretch's first identity among all of them, in the order added.
  struct Stretch {
    int64_t first;
    int64_t count;
    size_t at;
    int64_t last() const { return first + count - 1; }
  };

  IdentityStretches() = default;
  explicit IdentityStretches(std::span<const int64_t> ids) {
    for (const int64_t id : ids) Add(id);
  }

  // Appends `id`: it extends the last stretch when it follows it.
  void Add(int64_t id) {
    if (!stretches_.empty() && stretches_.back().last() < INT64_MAX &&
        id == stretches_.back().last() + 1) {
      ++stretches_.back().count;
    } else {
      stretches_.push_back({id, 1, size_});
    }
    ++size_;
  }

  // Appends `count` identities first, first + 1, ... (none when `count` is
  // not positive).
  void AddStretch(int64_t first, int64_t count) {
    if (count <= 0) return;
    if (!stretches_.empty() && stretches_.back().last() < INT64_MAX &&
        first == stretches_.back().last() + 1) {
      stretches_.back().count += count;
    } else {
      stretches_.push_back({first, count, size_});
    }
    size_ += static_cast<size_t>(count);
  }

  // The number of identities.
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  const std::vector<Stretch>& Stretches() const { return stretches_; }

  // Whether `ids` are these identities, in this order.
  bool Equals(std::span<const int64_t> ids) const {
    if (ids.size() != size_) return false;
    size_t at = 0;
    for (const Stretch& s : stretches_) {
      for (int64_t i = 0; i < s.count; ++i) {
        if (ids[at++] != s.first + i) return false;
      }
    }
    return true;
  }

  // Every identity, in the order added.
  std::vector<int64_t> Expand() const {
    std::vector<int64_t> ids;
    ids.reserve(size_);
    for (const Stretch& s : stretches_) {
      for (int64_t i = 0; i < s.count; ++i) ids.push_back(s.first + i);
    }
    return ids;
  }

 private:
  std::vector<Stretch> stretches_;
  size_t size_ = 0;
};

}  // namespace sa::dbengine
