// What the Windows message box and progress window share: the program's
// title and whether anyone can see a window at all.
#pragma once

namespace sa::platform {

inline constexpr wchar_t kProgramTitle[] = L"sales-archiver";

// False for a process whose window station is not shown to a user (a
// service, a scheduled task running whether or not anyone is logged on), or
// when the system cannot say; also under Wine started without a display.
bool HasVisibleDesktop();

}  // namespace sa::platform
