#include <windows.h>

#include "platform/clock.h"

namespace sa::platform {
namespace {

class Win32Clock final : public Clock {
 public:
  CivilDate Today() const override {
    SYSTEMTIME local;
    ::GetLocalTime(&local);
    return CivilDate{local.wYear, local.wMonth, local.wDay};
  }
};

}  // namespace

Clock& RealClock() {
  static Win32Clock clock;
  return clock;
}

}  // namespace sa::platform
