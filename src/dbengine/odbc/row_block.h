// Rows of one table read by identity, their values kept flat: what a block
// fetch fills and what a move copies from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "dbengine/value.h"

namespace sa::dbengine::odbc {

// Rows of one table by identity, their values flat: row r holds
// values[r * width] to values[r * width + width - 1].
class RowBlock {
 public:
  RowBlock() = default;
  explicit RowBlock(size_t width) : width_(width) {}

  size_t Width() const { return width_; }
  size_t Size() const { return ids_.size(); }
  int64_t Id(size_t row) const { return ids_[row]; }
  std::span<const int64_t> Ids() const { return ids_; }
  const std::vector<Value>& Values() const { return values_; }
  std::vector<Value>& Values() { return values_; }

  // Appends a row of Width() values, all null, and returns its first value.
  Value* Add(int64_t id);
  // The first value of the row of identity `id`; nullptr when there is none
  // or it was dropped.
  const Value* Find(int64_t id) const;
  Value* Find(int64_t id) {
    return const_cast<Value*>(static_cast<const RowBlock&>(*this).Find(id));
  }
  // Makes Find forget the row of identity `id`.
  void Drop(int64_t id);
  // No row was dropped.
  bool Whole() const { return dropped_ == 0; }
  // No identity was read twice.
  bool Distinct() const;
  // Empties the block for rows of `width` values, keeping its storage.
  void Clear(size_t width);

 private:
  void Index() const;

  size_t width_ = 0;
  std::vector<int64_t> ids_;
  std::vector<Value> values_;
  // (identity, row) sorted by identity, built when first searched.
  mutable std::vector<std::pair<int64_t, size_t>> index_;
  mutable bool indexed_ = true;
  size_t dropped_ = 0;
};

}  // namespace sa::dbengine::odbc
