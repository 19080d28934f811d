#include "frmProc/frm_proc.h"

#include <algorithm>

namespace sa::frmproc {

void ProgressBar::Refresh() {
  const float lo = std::min(Min, Max);
  const float hi = std::max(Min, Max);
  display_.Draw(Min, Max, std::clamp(Value, lo, hi));
}

void FrmProc::SetVisible(bool visible) {
  if (visible && !visible_) display_.Show();
  visible_ = visible;
}

}  // namespace sa::frmproc
