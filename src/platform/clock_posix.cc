#include <time.h>

#include "platform/clock.h"

namespace sa::platform {
namespace {

class PosixClock final : public Clock {
 public:
  CivilDate Today() const override {
    const time_t now = ::time(nullptr);
    struct tm local {};
    ::localtime_r(&now, &local);
    return CivilDate{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
  }
};

}  // namespace

Clock& RealClock() {
  static PosixClock clock;
  return clock;
}

}  // namespace sa::platform
