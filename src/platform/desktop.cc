#include "platform/desktop.h"

namespace sa::platform {
namespace {

bool allowed = true;

}  // namespace

void AllowDesktop(bool value) { allowed = value; }

bool DesktopAllowed() { return allowed; }

}  // namespace sa::platform
