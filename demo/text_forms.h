// The texts the host writes into its tables: stamps, days, clock times,
// barcodes, and amounts and weights as the doubles it stores.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/datetime.h"

namespace sa::demo {

// "YYYY-MM-DD HH:MM:SS", `second` seconds after the day's midnight.
std::string Stamp(const CivilDate& d, int second);
// A time of day as the host keeps it in a date field: on day zero of its
// calendar.
std::string TimeOfDay(int second);
// "dd/mm/yyyy".
std::string DayText(const CivilDate& d);
// "HH:MM", or "HH:MM:SS" with seconds.
std::string Clock(int second, bool withSeconds);
// An EAN-13 from its first 12 digits.
std::string Ean13(const std::string& digits12);
// The first `n` characters (code points) of UTF-8 text.
std::string Truncate(const std::string& text, size_t n);

inline double Euros(int64_t cents) { return static_cast<double>(cents) / 100.0; }
inline double Kilos(int64_t grams) { return static_cast<double>(grams) / 1000.0; }

}  // namespace sa::demo
