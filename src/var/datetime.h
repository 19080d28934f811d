// Calendar dates and times of day without a time zone, as the scales and the
// host record them. Days are counted from 1970-01-01 in the proleptic Gregorian
// calendar, so arithmetic on days is exact and comparisons are plain.
#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sa {

struct CivilDate {
  int year = 1970;
  int month = 1;  // 1..12
  int day = 1;    // 1..31
  auto operator<=>(const CivilDate&) const = default;
};

int64_t DaysFromCivil(const CivilDate& d);
CivilDate CivilFromDays(int64_t days);
bool IsValidDate(const CivilDate& d);

// A date with a time of day, to the second.
class DateTime {
 public:
  DateTime() = default;
  static DateTime FromDate(const CivilDate& d) { return DateTime(DaysFromCivil(d) * 86400); }
  static DateTime FromParts(const CivilDate& d, int hour, int minute, int second) {
    return DateTime(DaysFromCivil(d) * 86400 + hour * 3600 + minute * 60 + second);
  }

  CivilDate Date() const { return CivilFromDays(Days()); }
  int64_t Days() const { return seconds_ >= 0 ? seconds_ / 86400 : -((-seconds_ + 86399) / 86400); }
  int SecondOfDay() const { return static_cast<int>(seconds_ - Days() * 86400); }
  bool IsMidnight() const { return SecondOfDay() == 0; }
  DateTime AddDays(int64_t days) const { return DateTime(seconds_ + days * 86400); }

  // "YYYY-MM-DD HH:MM:SS", the stored form.
  std::string ToIso() const;
  // "YYYY-MM-DD", plus " HH:MM:SS" only when the time is not midnight.
  std::string ToText() const;
  // "yyyymm": the month key of the date.
  std::string MonthKey() const;

  // Reads "YYYY-MM-DD", optionally followed by a blank or "T" and
  // "HH:MM" or "HH:MM:SS" with optional fractional seconds (dropped).
  static std::optional<DateTime> ParseIso(std::string_view text);

  // True when `text` is exactly a valid date in the stored form
  // "YYYY-MM-DD HH:MM:SS": the form that needs no conversion.
  static bool IsStoredForm(std::string_view text);

  auto operator<=>(const DateTime&) const = default;

 private:
  explicit DateTime(int64_t seconds) : seconds_(seconds) {}
  int64_t seconds_ = 0;  // since 1970-01-01 00:00:00
};

}  // namespace sa
