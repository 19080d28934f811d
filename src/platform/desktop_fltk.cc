// The display probe. FLTK 1.3 ends the process when it cannot open its
// display, so the display is opened here first, with Xlib, and handed to
// FLTK only once it is known to answer.
#include <FL/x.H>
#include <X11/Xlib.h>

#include "platform/desktop.h"

namespace sa::platform {
namespace {

bool OpenDisplay() {
  // XOpenDisplay(nullptr) reads DISPLAY; it fails quietly when DISPLAY is
  // missing or names no server.
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return false;
  fl_open_display(display);  // FLTK keeps it until the program ends
  return true;
}

}  // namespace

bool DesktopAvailable() {
  static const bool available = DesktopAllowed() && OpenDisplay();
  return available;
}

}  // namespace sa::platform
