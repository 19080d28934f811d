// Whether progress and messages may reach a desktop: a window for the bar, a
// dialog for messages. An unattended run turns the desktop off; otherwise it
// is there when a display server answers. Without it the program keeps to
// standard error, and nothing ever waits for a person.
#pragma once

namespace sa::platform {

// Keeps every window and dialog away for the rest of the process when
// `allowed` is false (a run nobody watches). Call before anything is shown.
void AllowDesktop(bool allowed);
bool DesktopAllowed();

// True when the desktop is allowed and a display could be opened. Decided on
// the first call, which opens the display; later calls give the same answer.
bool DesktopAvailable();

}  // namespace sa::platform
