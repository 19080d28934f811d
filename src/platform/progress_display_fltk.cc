// The progress window on a desktop. The run never processes window events
// between its steps, so every Draw processes what is pending (the first
// exposure included) and paints the bar before it returns.
#include <FL/Fl.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Progress.H>

#include <chrono>
#include <memory>

#include "platform/desktop_fltk.h"

namespace sa::platform {
namespace {

constexpr int kClientWidth = 282;
constexpr int kClientHeight = 33;
constexpr int kBarWidth = kClientWidth - 1;
// Where the window's client area goes when the screen has room for it.
constexpr int kLeft = 669;
constexpr int kTop = 146;
// How long Show waits for the window to be mapped and painted at most.
constexpr std::chrono::milliseconds kFirstPaintWait{2000};

// Knows when it was first painted, so Show can wait for the mapping that a
// window manager may take a moment over.
class ProgressWindow final : public Fl_Double_Window {
 public:
  ProgressWindow(int left, int top)
      : Fl_Double_Window(left, top, kClientWidth, kClientHeight, "sales-archiver") {}
  bool painted() const { return painted_; }

 protected:
  void draw() override {
    Fl_Double_Window::draw();
    painted_ = true;
  }

 private:
  bool painted_ = false;
};

struct Point {
  int x;
  int y;
};

// The client area's top left: kLeft, kTop when the window fits there on the
// main screen, else centred on it.
Point Placement() {
  int sx = 0, sy = 0, sw = 0, sh = 0;
  Fl::screen_xywh(sx, sy, sw, sh, 0);
  const bool fits = kLeft >= sx && kTop >= sy && kLeft + kClientWidth <= sx + sw &&
                    kTop + kClientHeight <= sy + sh;
  if (fits) return {kLeft, kTop};
  return {sx + (sw - kClientWidth) / 2, sy + (sh - kClientHeight) / 2};
}

class WindowProgressDisplay final : public ProgressDisplay {
 public:
  WindowProgressDisplay() : window_(Placement().x, Placement().y) {
    window_.begin();
    bar_ = new Fl_Progress(0, 0, kBarWidth, kClientHeight);  // owned by the window
    window_.end();
    // A flat box leaves the whole bar to the fill, so the filled width is
    // the fraction of the bar's width, to the pixel.
    bar_->box(FL_FLAT_BOX);
    bar_->color(fl_rgb_color(230, 230, 230));
    bar_->selection_color(fl_rgb_color(6, 176, 37));
    bar_->minimum(0);
    bar_->maximum(1);
    bar_->value(0);
    // The window offers nothing to do: closing it (its button, Escape) is
    // ignored, and it stays until the program ends.
    window_.callback([](Fl_Widget*, void*) {});
  }

  void Show() override {
    window_.show();
    const auto deadline = std::chrono::steady_clock::now() + kFirstPaintWait;
    while (!window_.painted() && std::chrono::steady_clock::now() < deadline) {
      Fl::wait(0.02);
    }
  }

  void Draw(float min, float max, float value) override {
    // The bar runs 0 to 1 here so that no range, however odd, reaches FLTK's
    // arithmetic; an empty range shows a full bar, as the text bar does.
    double fraction = 1.0;
    if (max > min) fraction = (static_cast<double>(value) - min) / (static_cast<double>(max) - min);
    if (!(fraction >= 0.0)) fraction = 0.0;  // also catches NaN
    if (fraction > 1.0) fraction = 1.0;
    bar_->value(static_cast<float>(fraction));
    Fl::check();  // handles pending events and paints what changed
    Fl::flush();
  }

 private:
  ProgressWindow window_;
  Fl_Progress* bar_ = nullptr;
};

}  // namespace

std::unique_ptr<ProgressDisplay> MakeWindowProgressDisplay() {
  return std::make_unique<WindowProgressDisplay>();
}

}  // namespace sa::platform
