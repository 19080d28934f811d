// The desktop bodies behind the POSIX progress display and message sink,
// drawn with FLTK. Call them only when DesktopAvailable() is true: FLTK ends
// the process when it has no display to talk to.
#pragma once

#include <memory>
#include <string>

#include "platform/progress_display.h"

namespace sa::platform {

// The progress window: a 282 x 33 client area filled by a horizontal bar one
// pixel narrower, titled with the program's name.
std::unique_ptr<ProgressDisplay> MakeWindowProgressDisplay();

// A modal dialog with the stop icon, `message`, then `cause` when it is not
// empty, and an OK button; returns once the person has dismissed it.
void ShowStopDialog(const std::string& message, const std::string& cause);

}  // namespace sa::platform
