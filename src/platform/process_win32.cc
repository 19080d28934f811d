#include <windows.h>
// windows.h first: shellapi.h needs its types.
#include <io.h>
#include <shellapi.h>

#include <cstdio>

#include "platform/process.h"
#include "platform/wide_text.h"

namespace sa::platform {
namespace {

bool Usable(HANDLE handle) {
  return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
         ::GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

}  // namespace

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
  std::vector<std::string> arguments;
  for (int i = 1; i < count; ++i) arguments.push_back(Narrow(wide[i]));
  ::LocalFree(wide);
  return arguments;
}

// A window program started from a console, with nothing redirected, has no
// standard handles; a redirected one has them, inherited, and keeps them.
void ReachStartingConsole() {
  const bool out = Usable(::GetStdHandle(STD_OUTPUT_HANDLE));
  const bool err = Usable(::GetStdHandle(STD_ERROR_HANDLE));
  if (out && err) return;
  if (!::AttachConsole(ATTACH_PARENT_PROCESS)) return;  // no console: nobody to tell
  if (!out && std::freopen("CONOUT$", "w", stdout) != nullptr) {
    ::SetStdHandle(STD_OUTPUT_HANDLE, reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stdout))));
  }
  if (!err && std::freopen("CONOUT$", "w", stderr) != nullptr) {
    std::setvbuf(stderr, nullptr, _IONBF, 0);
    ::SetStdHandle(STD_ERROR_HANDLE, reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stderr))));
  }
}

}  // namespace sa::platform
