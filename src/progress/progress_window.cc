#include "progress/progress_window.h"

#include <algorithm>

namespace sa::progress {

void ProgressWindow::Show(float min, float max) {
  if (!visible_) display_.Show();
  visible_ = true;
  min_ = min;
  max_ = max;
}

void ProgressWindow::MoveTo(float value) {
  display_.Draw(min_, max_, std::clamp(value, std::min(min_, max_), std::max(min_, max_)));
}

}  // namespace sa::progress
