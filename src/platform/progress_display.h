// Where the progress window draws its bar: a window when the platform has one,
// else a text bar on standard error when that is a terminal, else nowhere.
#pragma once

namespace sa::platform {

class ProgressDisplay {
 public:
  virtual ~ProgressDisplay() = default;
  virtual void Show() = 0;
  // Draws the bar at `value` within [min, max]; called on every refresh.
  virtual void Draw(float min, float max, float value) = 0;
};

ProgressDisplay& RealProgressDisplay();

}  // namespace sa::platform
