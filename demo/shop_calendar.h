// The sample shop's calendar: which days its history covers and which of
// them it opens. The benchmark sizes its shops by the same calendar.
#pragma once

#include <cstdint>

#include "core/datetime.h"

namespace sa::demo {

// The first day of a history of `months` months ending `today`: the same day
// of the month `months` months back, or that month's last day when it is
// shorter (31 March less a month is 28 or 29 February).
CivilDate FirstDay(const CivilDate& today, int months);

// False on Sundays, when the shop is shut; `day` counts days from 1970-01-01.
bool IsOpenDay(int64_t day);

}  // namespace sa::demo
