// Paces the progress bar of a run that goes month by month: the bar moves to
// each table's position once as many records have been processed as that
// table and the tables before it hold, so it shows the steps of the table
// order at the pace of the months' work.
#pragma once

#include <cstddef>
#include <vector>

#include "progress/progress_window.h"
#include "run/table_work.h"

namespace sa::run {

class BarPacer {
 public:
  BarPacer(progress::ProgressWindow& form, const std::vector<TableWork>& works)
      : form_(form), works_(works) {}

  // Counts `records` more as processed and moves the bar as far as they take
  // it. A table not read whole, or not reached, shows no step, nor any table
  // after it.
  void Processed(long records) {
    processed_ += records;
    while (shown_ < works_.size() && works_[shown_].whole && works_[shown_].reached &&
           reached_ + works_[shown_].records <= processed_) {
      reached_ += works_[shown_].records;
      form_.MoveTo(static_cast<float>(works_[shown_].entry->index));
      ++shown_;
    }
  }

 private:
  progress::ProgressWindow& form_;
  const std::vector<TableWork>& works_;
  long processed_ = 0;  // records of the runs done so far
  long reached_ = 0;    // records of the tables whose step is shown
  size_t shown_ = 0;
};

}  // namespace sa::run
