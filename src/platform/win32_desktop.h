// What the Windows message box and progress window share: the program's
// title. Whether they may show at all is platform::DesktopAvailable().
#pragma once

namespace sa::platform {

inline constexpr wchar_t kProgramTitle[] = L"sales-archiver";

}  // namespace sa::platform
