// The message box on Windows: MessageBoxW with the stop icon and OK, titled
// with the program's name, the cause under the message. Both also go to standard
// error first, so that the reason is on record before the box waits for its
// click. A process whose window station is not visible (a service, a task
// run whether or not anyone is logged on) gets no box: nobody could click it.
#include <windows.h>

#include <cstdio>

#include "platform/desktop.h"
#include "platform/message_sink.h"
#include "platform/message_text.h"
#include "platform/wide_text.h"
#include "platform/win32_desktop.h"

namespace sa::platform {
namespace {

// A console gets the text through the wide call, so every letter shows
// whatever the console's code page; a file or a pipe gets UTF-8.
void WriteStandardError(const std::string& text) {
  const HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (err != nullptr && err != INVALID_HANDLE_VALUE && ::GetConsoleMode(err, &mode)) {
    const std::wstring wide = Widen(text);
    DWORD written = 0;
    ::WriteConsoleW(err, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    return;
  }
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

class Win32MessageSink final : public MessageSink {
 public:
  void ShowCritical(const std::string& message, const std::string& cause) override {
    WriteStandardError(MessageLines(message, cause));
    if (!DesktopAvailable()) return;
    // The cause under the message, a blank line between, as on the desktop
    // elsewhere: the box alone must say why.
    const std::string text = cause.empty() ? message : message + "\n\n" + cause;
    ::MessageBoxW(nullptr, Widen(text).c_str(), kProgramTitle, MB_ICONSTOP | MB_OK);
  }
};

}  // namespace

MessageSink& RealMessageSink() {
  static Win32MessageSink sink;
  return sink;
}

}  // namespace sa::platform
