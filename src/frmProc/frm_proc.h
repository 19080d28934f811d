// The progress window of an archive run: one form holding one horizontal bar.
// The run shows it, sets the bar's range, moves it after each table and fills
// it at the end. It draws only on Refresh, through the platform's display.
#pragma once

#include "platform/progress_display.h"

namespace sa::frmproc {

class ProgressBar {
 public:
  explicit ProgressBar(platform::ProgressDisplay& display) : display_(display) {}

  float Min = 0;
  float Max = 100;
  float Value = 0;

  // Shows the bar at Value, held within [Min, Max].
  void Refresh();

 private:
  platform::ProgressDisplay& display_;
};

class FrmProc {
 public:
  explicit FrmProc(platform::ProgressDisplay& display) : display_(display), procbar(display) {}

  // Showing the form is not modal: the run goes on at once.
  void SetVisible(bool visible);
  bool Visible() const { return visible_; }

 private:
  platform::ProgressDisplay& display_;
  bool visible_ = false;

 public:
  ProgressBar procbar;
};

}  // namespace sa::frmproc
