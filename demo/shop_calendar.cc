#include "shop_calendar.h"

namespace sa::demo {

CivilDate FirstDay(const CivilDate& today, int months) {
  int month = today.month - months % 12;
  int year = today.year - months / 12;
  if (month < 1) {
    month += 12;
    --year;
  }
  CivilDate first{year, month, today.day};
  while (!IsValidDate(first)) --first.day;
  return first;
}

// 1970-01-01 was a Thursday.
bool IsOpenDay(int64_t day) { return (day % 7 + 7 + 4) % 7 != 0; }

}  // namespace sa::demo
