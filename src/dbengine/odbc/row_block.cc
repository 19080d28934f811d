#include "dbengine/odbc/row_block.h"

#include <algorithm>

namespace sa::dbengine::odbc {

Value* RowBlock::Add(int64_t id) {
  ids_.push_back(id);
  values_.resize(values_.size() + width_);
  indexed_ = false;
  return values_.data() + (values_.size() - width_);
}

void RowBlock::Index() const {
  if (indexed_) return;
  index_.clear();
  index_.reserve(ids_.size());
  for (size_t r = 0; r < ids_.size(); ++r) index_.emplace_back(ids_[r], r);
  // An identity read twice keeps its first row.
  std::stable_sort(index_.begin(), index_.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  index_.erase(std::unique(index_.begin(), index_.end(),
                           [](const auto& a, const auto& b) { return a.first == b.first; }),
               index_.end());
  indexed_ = true;
}

const Value* RowBlock::Find(int64_t id) const {
  Index();
  const auto it =
      std::lower_bound(index_.begin(), index_.end(), id,
                       [](const auto& entry, int64_t key) { return entry.first < key; });
  if (it == index_.end() || it->first != id) return nullptr;
  return values_.data() + it->second * width_;
}

void RowBlock::Drop(int64_t id) {
  Index();
  const auto it =
      std::lower_bound(index_.begin(), index_.end(), id,
                       [](const auto& entry, int64_t key) { return entry.first < key; });
  if (it != index_.end() && it->first == id) {
    index_.erase(it);
    ++dropped_;
  }
}

bool RowBlock::Distinct() const {
  Index();
  return index_.size() + dropped_ == ids_.size();
}

void RowBlock::Clear(size_t width) {
  width_ = width;
  ids_.clear();
  values_.clear();
  index_.clear();
  indexed_ = true;
  dropped_ = 0;
}

}  // namespace sa::dbengine::odbc
