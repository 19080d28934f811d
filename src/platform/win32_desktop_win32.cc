#include <windows.h>

#include "platform/win32_desktop.h"

namespace sa::platform {

bool HasVisibleDesktop() {
  const HWINSTA station = ::GetProcessWindowStation();
  if (station == nullptr) return false;
  USEROBJECTFLAGS flags{};
  if (!::GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, nullptr)) {
    return false;
  }
  return (flags.dwFlags & WSF_VISIBLE) != 0;
}

}  // namespace sa::platform
