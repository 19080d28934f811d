// A look at a real X display for the desktop tests, through the X tools
// (xdotool, xwininfo, xdpyinfo, ImageMagick's import) run on that display.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace sa::testing {

// The display the desktop tests run on: the Xvfb the CTest fixture started
// for the run, else DISPLAY (empty when that is not set either).
struct TestDisplay {
  std::string name;
  // A missing or silent display fails the tests instead of skipping them:
  // the fixture started one, or SA_DESKTOP_TESTS=1 says there is one.
  bool required = false;
};
TestDisplay DesktopDisplay();

// A DISPLAY naming no server: a display number with neither a socket nor a
// lock file.
std::string DeadDisplay();
// True when an X server answers at `display`.
bool DisplayAnswers(const std::string& display);

// An Xvfb server of its own with one screen of the given size, for a test
// that needs a screen unlike the shared one; stopped when destroyed.
class PrivateDisplay {
 public:
  PrivateDisplay(int width, int height);
  ~PrivateDisplay();
  PrivateDisplay(const PrivateDisplay&) = delete;
  PrivateDisplay& operator=(const PrivateDisplay&) = delete;
  // The DISPLAY value; empty when the server did not start.
  const std::string& name() const { return name_; }

 private:
  pid_t pid_ = -1;
  std::string name_;
};

// True while process `pid` (a child of this one) has not ended; it is left
// for WaitProgram to collect.
bool StillRunning(pid_t pid);

// The visible window of process `pid` titled exactly `title`, once it shows.
// 0 when the process ends first, or after a generous bound (30 s) so that a
// missing window fails the test instead of hanging it.
unsigned long WaitForWindow(const std::string& display, pid_t pid, const std::string& title);

struct Geometry {
  int x = -1, y = -1;  // the client area's top left on the screen
  int width = -1, height = -1;
};
Geometry WindowGeometry(const std::string& display, unsigned long window);

struct Picture {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;  // row by row, three bytes a pixel
  const uint8_t* At(int x, int y) const { return &rgb[(static_cast<size_t>(y) * width + x) * 3]; }
};
// The window's client area as it is on screen; fails the test when it cannot
// be read.
Picture CaptureWindow(const std::string& display, unsigned long window);

// Gives `window` the keyboard and presses Return in it.
void PressReturn(const std::string& display, unsigned long window);

}  // namespace sa::testing
