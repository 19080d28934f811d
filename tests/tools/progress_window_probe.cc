// Shows the program's real progress window with its bar driven to VALUE of
// MAX (range 0 to MAX), the way a run drives it, then waits to be ended by a
// signal, so that a test can look at the window. Built for the tests only.
//
//   progress-window-probe VALUE MAX
// Exit status 2 when no display can be opened.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "platform/desktop.h"
#include "platform/progress_display.h"
#include "progress/progress_window.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s VALUE MAX\n", argv[0]);
    return 2;
  }
  if (!sa::platform::DesktopAvailable()) {
    std::fputs("no display\n", stderr);
    return 2;
  }
  sa::progress::ProgressWindow form(sa::platform::RealProgressDisplay());
  form.Show(0, std::strtof(argv[2], nullptr));
  form.MoveTo(std::strtof(argv[1], nullptr));
  for (;;) ::pause();
}
