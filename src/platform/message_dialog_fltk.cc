// The stop dialog on a desktop: the stop icon, the message and its cause, an
// OK button. Modal; the program waits until it is dismissed.
#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Return_Button.H>
#include <FL/fl_draw.H>

#include <algorithm>
#include <string>

#include "platform/desktop_fltk.h"

namespace sa::platform {
namespace {

constexpr int kMargin = 14;
constexpr int kIconSize = 36;
constexpr int kMaxTextWidth = 520;
constexpr int kButtonWidth = 88;
constexpr int kButtonHeight = 26;
constexpr int kFontSize = 14;

// A red disc with a white cross: the stop sign of critical messages.
class StopIcon final : public Fl_Widget {
 public:
  StopIcon(int x, int y, int size) : Fl_Widget(x, y, size, size) {}

 protected:
  void draw() override {
    fl_color(fl_rgb_color(200, 30, 30));
    fl_pie(x(), y(), w(), h(), 0, 360);
    fl_color(FL_WHITE);
    fl_line_style(FL_SOLID | FL_CAP_ROUND, 4);
    const int in = w() * 3 / 10;
    fl_line(x() + in, y() + in, x() + w() - 1 - in, y() + h() - 1 - in);
    fl_line(x() + w() - 1 - in, y() + in, x() + in, y() + h() - 1 - in);
    fl_line_style(0);
  }
};

// FLTK reads "@" in a label as the start of a symbol name; "@@" is a plain
// "@", so paths and engine texts show as they are.
std::string LabelText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    out += c;
    if (c == '@') out += '@';
  }
  return out;
}

}  // namespace

void ShowStopDialog(const std::string& message, const std::string& cause) {
  const std::string label = LabelText(cause.empty() ? message : message + "\n\n" + cause);

  // The text's natural width, wrapped at kMaxTextWidth when wider.
  fl_font(FL_HELVETICA, kFontSize);
  int textWidth = 0, textHeight = 0;
  fl_measure(label.c_str(), textWidth, textHeight);
  if (textWidth > kMaxTextWidth) {
    textWidth = kMaxTextWidth;
    textHeight = 0;
    fl_measure(label.c_str(), textWidth, textHeight);
  }
  // The box draws its label a little inside its edges: room for that, so the
  // measured lines are not wrapped again.
  textWidth = std::max(textWidth + 8, 200);
  textHeight = std::max(textHeight, kIconSize);

  const int width = kMargin + kIconSize + kMargin + textWidth + kMargin;
  const int height = kMargin + textHeight + kMargin + kButtonHeight + kMargin;
  int sx = 0, sy = 0, sw = 0, sh = 0;
  Fl::screen_xywh(sx, sy, sw, sh, 0);

  Fl_Double_Window dialog(sx + (sw - width) / 2, sy + (sh - height) / 2, width, height,
                          "sales-archiver");
  new StopIcon(kMargin, kMargin, kIconSize);  // the window owns its children
  auto* text = new Fl_Box(kMargin + kIconSize + kMargin, kMargin, textWidth, textHeight);
  text->label(label.c_str());  // `label` outlives the dialog
  text->labelfont(FL_HELVETICA);
  text->labelsize(kFontSize);
  text->align(FL_ALIGN_LEFT | FL_ALIGN_TOP | FL_ALIGN_INSIDE | FL_ALIGN_WRAP);
  auto* ok = new Fl_Return_Button(width - kMargin - kButtonWidth, height - kMargin - kButtonHeight,
                                  kButtonWidth, kButtonHeight, "OK");
  ok->callback([](Fl_Widget* button, void*) { button->window()->hide(); });
  dialog.end();
  dialog.set_modal();
  // Return presses OK; the window's close button and Escape dismiss it too.
  dialog.show();
  Fl::focus(ok);
  while (dialog.shown()) Fl::wait();
}

}  // namespace sa::platform
