// The progress display chosen at start: the window when a desktop is there,
// else the text bar on standard error, drawn in place and only when standard
// error is a terminal, so logs and pipes stay free of it.
#include <unistd.h>

#include <cmath>
#include <memory>
#include <string>

#include "platform/desktop.h"
#include "platform/desktop_fltk.h"
#include "platform/progress_display.h"
#include "platform/standard_error.h"

namespace sa::platform {
namespace {

constexpr int kBarWidth = 40;

class TerminalProgressDisplay final : public ProgressDisplay {
 public:
  TerminalProgressDisplay() : enabled_(::isatty(STDERR_FILENO) == 1) {}

  void Show() override {
    lastFilled_ = -1;
    lastPercent_ = -1;
  }

  void Draw(float min, float max, float value) override {
    if (!enabled_) return;
    double fraction = 1.0;
    if (max > min) fraction = (static_cast<double>(value) - min) / (static_cast<double>(max) - min);
    if (!(fraction >= 0.0)) fraction = 0.0;  // also catches NaN
    if (fraction > 1.0) fraction = 1.0;
    const int filled = static_cast<int>(std::lround(fraction * kBarWidth));
    const int percent = static_cast<int>(std::lround(fraction * 100));

    // Draw comes on every refresh; write only when something visible changed.
    if (filled != lastFilled_ || percent != lastPercent_) {
      std::string bar = "[";
      bar.append(static_cast<size_t>(filled), '#');
      bar.append(static_cast<size_t>(kBarWidth - filled), ' ');
      bar += "] " + std::to_string(percent) + "%";
      RealStandardError().Bar(bar);
      lastFilled_ = filled;
      lastPercent_ = percent;
    }
    if (value >= max) RealStandardError().EndBar();
  }

 private:
  const bool enabled_;
  int lastFilled_ = -1;
  int lastPercent_ = -1;
};

}  // namespace

ProgressDisplay& RealProgressDisplay() {
  static const std::unique_ptr<ProgressDisplay> display =
      DesktopAvailable() ? MakeWindowProgressDisplay()
                         : std::make_unique<TerminalProgressDisplay>();
  return *display;
}

}  // namespace sa::platform
