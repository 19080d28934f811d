#include <windows.h>

#include "platform/desktop.h"

namespace sa::platform {
namespace {

// Wine hands the Unix environment to the programs it runs. Started with
// neither display variable it draws on its null driver: a window there is
// seen by nobody and a message box waits for ever.
bool IsWineWithoutDisplay() {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  if (ntdll == nullptr || ::GetProcAddress(ntdll, "wine_get_version") == nullptr) return false;
  return ::GetEnvironmentVariableW(L"DISPLAY", nullptr, 0) == 0 &&
         ::GetEnvironmentVariableW(L"WAYLAND_DISPLAY", nullptr, 0) == 0;
}

}  // namespace

// False for a process whose window station is not shown to a user (a
// service, a scheduled task running whether or not anyone is logged on), when
// the system cannot say, and under Wine started without a display.
bool DesktopAvailable() {
  if (!DesktopAllowed()) return false;
  const HWINSTA station = ::GetProcessWindowStation();
  if (station == nullptr) return false;
  USEROBJECTFLAGS flags{};
  if (!::GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, nullptr)) {
    return false;
  }
  return (flags.dwFlags & WSF_VISIBLE) != 0 && !IsWineWithoutDisplay();
}

}  // namespace sa::platform
