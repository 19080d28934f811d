// Today's date, from the system clock in local time.
#pragma once

#include "core/datetime.h"

namespace sa::platform {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual CivilDate Today() const = 0;
};

Clock& RealClock();

}  // namespace sa::platform
