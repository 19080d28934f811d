// Drives the real progress window and the real message box for the
// screenshot check (tests/gui/check-windows.sh), and reports what the
// system says of them, so the pictures can be checked against it.
//
//   window-probe progress MIN MAX VALUE SECONDS
//       shows the progress window at VALUE, prints "client W H X Y" (the
//       client area's size and screen position) and keeps the window
//       responsive for SECONDS.
//   window-probe message TEXT CAUSE
//       shows the message box; prints "box TITLE", each text of the dialog
//       as "text ..." and "icon" when it shows one, then "closed" once it
//       has been dismissed.
//   window-probe read-box
//       waits for the box of another process (sales-archiver.exe itself)
//       and prints what it holds, as above, ending with "reported".
#include <windows.h>
// windows.h first: shellapi.h needs its types.
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/message_sink.h"
#include "platform/progress_display.h"
#include "platform/wide_text.h"

namespace {

void Say(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

void PumpFor(DWORD milliseconds) {
  const ULONGLONG deadline = ::GetTickCount64() + milliseconds;
  for (;;) {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
    const ULONGLONG now = ::GetTickCount64();
    if (now >= deadline) return;
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(deadline - now), QS_ALLINPUT);
  }
}

int Progress(float min, float max, float value, DWORD seconds) {
  sa::platform::ProgressDisplay& display = sa::platform::RealProgressDisplay();
  display.Show();
  display.Draw(min, max, value);
  const HWND window = ::FindWindowW(L"sales-archiver-progress", L"sales-archiver");
  if (window == nullptr) {
    Say("no window");
    return 1;
  }
  RECT client;
  ::GetClientRect(window, &client);
  POINT origin{0, 0};
  ::ClientToScreen(window, &origin);
  Say("client " + std::to_string(client.right - client.left) + " " +
      std::to_string(client.bottom - client.top) + " " + std::to_string(origin.x) + " " +
      std::to_string(origin.y));
  PumpFor(seconds * 1000);
  return 0;
}

BOOL CALLBACK ReportChild(HWND child, LPARAM) {
  wchar_t className[64] = {};
  ::GetClassNameW(child, className, 64);
  const LONG style = ::GetWindowLongW(child, GWL_STYLE);
  if (std::wstring(className) == L"Static" && (style & SS_TYPEMASK) == SS_ICON) {
    Say("icon");
    return TRUE;
  }
  wchar_t text[512] = {};
  ::GetWindowTextW(child, text, 512);
  if (std::wstring(className) == L"Static" && text[0] != L'\0') {
    Say("text " + sa::platform::Narrow(text));
  }
  return TRUE;
}

// Waits for the message box of this process and reports what it holds.
void ReportBox() {
  for (int attempt = 0; attempt < 600; ++attempt) {
    const HWND box = ::FindWindowW(L"#32770", L"sales-archiver");
    if (box != nullptr) {
      Say("box sales-archiver");
      ::EnumChildWindows(box, ReportChild, 0);
      Say("reported");
      return;
    }
    ::Sleep(50);
  }
  Say("no box");
}

int Message(const std::string& text, const std::string& cause) {
  std::thread reporter(ReportBox);
  sa::platform::RealMessageSink().ShowCritical(text, cause);
  reporter.join();
  Say("closed");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // The texts as UTF-8 whatever the code page: the box must show every letter.
  int wideCount = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &wideCount);
  const auto arg = [&](int i) {
    return wide != nullptr && i < wideCount ? sa::platform::Narrow(wide[i]) : std::string(argv[i]);
  };
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "progress" && argc == 6) {
    return Progress(std::strtof(argv[2], nullptr), std::strtof(argv[3], nullptr),
                    std::strtof(argv[4], nullptr), std::strtoul(argv[5], nullptr, 10));
  }
  if (mode == "message" && argc == 4) return Message(arg(2), arg(3));
  if (mode == "read-box" && argc == 2) {
    ReportBox();
    return 0;
  }
  std::fputs("usage: window-probe progress MIN MAX VALUE SECONDS | message TEXT CAUSE | read-box\n",
             stderr);
  return 2;
}
