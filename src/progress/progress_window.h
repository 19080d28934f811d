// progress/ holds the run's progress window, drawn through the platform's
// progress display.
//
// The progress window of an archive run: a window holding one horizontal bar
// and nothing else. The run shows it with the bar's range, moves the bar after
// each table and fills it at the end; the window never hides itself (it goes
// with the process). It draws through the platform's display, and only when
// the bar moves, so the run is never held up by the screen.
#pragma once

#include "platform/progress_display.h"

namespace sa::progress {

class ProgressWindow {
 public:
  explicit ProgressWindow(platform::ProgressDisplay& display) : display_(display) {}

  // Shows the window with the bar's range [min, max] and the bar at min. Not
  // modal: the run goes on at once. Showing it again only sets the range.
  void Show(float min, float max);
  // Moves the bar to `value`, held within the range, and draws it at once.
  void MoveTo(float value);
  // Moves the bar to the end of its range.
  void Fill() { MoveTo(max_); }

 private:
  platform::ProgressDisplay& display_;
  bool visible_ = false;
  float min_ = 0;
  float max_ = 100;
};

}  // namespace sa::progress
