// The progress window on Windows: a captioned window whose client area, 282 x
// 33 pixels, holds the common-controls progress bar at 0,0, one pixel
// narrower than the client area. It is placed with its client area at 669,146
// on the screen when the whole window fits there, else centred in the work
// area. The run has no message loop of its own, so every Draw handles the
// pending messages: Windows never marks the window as not responding.
#include <windows.h>
// windows.h first: commctrl.h needs its types.
#include <commctrl.h>

#include <cmath>

#include "platform/desktop.h"
#include "platform/progress_display.h"
#include "platform/win32_desktop.h"

namespace sa::platform {
namespace {

constexpr int kClientWidth = 282;
constexpr int kClientHeight = 33;
constexpr int kBarWidth = kClientWidth - 1;
constexpr int kLayoutLeft = 669;  // the stored layout, in pixels at 96 dots per inch
constexpr int kLayoutTop = 146;
// The bar's own range: fine enough that the fill is exact to the pixel.
constexpr int kBarSteps = 10000;
constexpr wchar_t kClassName[] = L"sales-archiver-progress";
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION;  // no buttons: there is nothing to do
constexpr DWORD kExStyle = 0;

// The window takes no action of its own; closing it is not offered.
LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CLOSE) return 0;
  return ::DefWindowProcW(window, message, wParam, lParam);
}

bool Contains(const RECT& outer, const RECT& inner) {
  return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
         inner.bottom <= outer.bottom;
}

// Where the window goes: the stored layout when the whole window is on a
// screen there, else the centre of the primary work area.
RECT Placement() {
  RECT wanted{kLayoutLeft, kLayoutTop, kLayoutLeft + kClientWidth, kLayoutTop + kClientHeight};
  ::AdjustWindowRectEx(&wanted, kStyle, FALSE, kExStyle);
  const HMONITOR monitor = ::MonitorFromRect(&wanted, MONITOR_DEFAULTTONULL);
  MONITORINFO info{};
  info.cbSize = sizeof info;
  if (monitor != nullptr && ::GetMonitorInfoW(monitor, &info) && Contains(info.rcWork, wanted)) {
    return wanted;
  }
  RECT work{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const LONG width = wanted.right - wanted.left;
  const LONG height = wanted.bottom - wanted.top;
  const LONG left = work.left + (work.right - work.left - width) / 2;
  const LONG top = work.top + (work.bottom - work.top - height) / 2;
  return RECT{left, top, left + width, top + height};
}

void PumpMessages() {
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

class WindowProgressDisplay final : public ProgressDisplay {
 public:
  WindowProgressDisplay() = default;
  WindowProgressDisplay(const WindowProgressDisplay&) = delete;
  WindowProgressDisplay& operator=(const WindowProgressDisplay&) = delete;
  ~WindowProgressDisplay() override {
    if (window_ != nullptr) ::DestroyWindow(window_);
  }

  void Show() override {
    if (window_ == nullptr && !Create()) return;
    ::ShowWindow(window_, SW_SHOWNOACTIVATE);
    ::UpdateWindow(window_);
    PumpMessages();
  }

  void Draw(float min, float max, float value) override {
    if (bar_ == nullptr) return;
    double fraction = 1.0;
    if (max > min) fraction = (static_cast<double>(value) - min) / (static_cast<double>(max) - min);
    if (!(fraction >= 0.0)) fraction = 0.0;  // also catches NaN
    if (fraction > 1.0) fraction = 1.0;
    const auto position = static_cast<WPARAM>(std::lround(fraction * kBarSteps));
    ::SendMessageW(bar_, PBM_SETPOS, position, 0);
    // Refresh shows the value at once, not when the system gets round to it.
    ::RedrawWindow(bar_, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    PumpMessages();
  }

 private:
  // False when no window can be made (no desktop to show it on); the
  // display then draws nothing, and the run goes on.
  bool Create() {
    if (!DesktopAvailable()) return false;
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
    if (!::InitCommonControlsEx(&controls)) return false;

    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WindowProcedure;
    windowClass.hInstance = instance;
    windowClass.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kClassName;
    if (!::RegisterClassExW(&windowClass) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
      return false;
    }

    const RECT place = Placement();
    window_ = ::CreateWindowExW(kExStyle, kClassName, kProgramTitle, kStyle, place.left, place.top,
                                place.right - place.left, place.bottom - place.top, nullptr,
                                nullptr, instance, nullptr);
    if (window_ == nullptr) return false;
    bar_ = ::CreateWindowExW(0, PROGRESS_CLASSW, nullptr, WS_CHILD | WS_VISIBLE | PBS_SMOOTH, 0, 0,
                             kBarWidth, kClientHeight, window_, nullptr, instance, nullptr);
    if (bar_ == nullptr) {
      ::DestroyWindow(window_);
      window_ = nullptr;
      return false;
    }
    ::SendMessageW(bar_, PBM_SETRANGE32, 0, kBarSteps);
    return true;
  }

  HWND window_ = nullptr;
  HWND bar_ = nullptr;
};

}  // namespace

ProgressDisplay& RealProgressDisplay() {
  static WindowProgressDisplay display;
  return display;
}

}  // namespace sa::platform
