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

// A date with a time of day, to the millisecond.
class DateTime {
 public:
  static constexpr int64_t kMsPerDay = 86400000;

  DateTime() = default;
  static DateTime FromDate(const CivilDate& d) { return DateTime(DaysFromCivil(d) * kMsPerDay); }
  static DateTime FromParts(const CivilDate& d, int hour, int minute, int second,
                            int millisecond = 0) {
    return DateTime(DaysFromCivil(d) * kMsPerDay +
                    ((hour * 3600 + minute * 60 + second) * int64_t{1000}) + millisecond);
  }

  CivilDate Date() const { return CivilFromDays(Days()); }
  int64_t Days() const {
    return ms_ >= 0 ? ms_ / kMsPerDay : -((-ms_ + kMsPerDay - 1) / kMsPerDay);
  }
  // Milliseconds since midnight.
  int64_t MsOfDay() const { return ms_ - Days() * kMsPerDay; }
  bool IsMidnight() const { return MsOfDay() == 0; }
  DateTime AddDays(int64_t days) const { return DateTime(ms_ + days * kMsPerDay); }

  // "YYYY-MM-DD HH:MM:SS", with ".fff" when there is a fraction of a second:
  // the stored form. Stored forms sort as the dates they hold.
  std::string ToIso() const;
  // "YYYY-MM-DD", plus the time as ToIso writes it when it is not midnight.
  std::string ToText() const;
  // "yyyymm": the month key of the date.
  std::string MonthKey() const;

  // Reads "YYYY-MM-DD", optionally followed by a blank or "T" and "HH:MM" or
  // "HH:MM:SS" with an optional fraction of any length. A fraction finer than
  // a millisecond is rounded up to the next one, so that a time later than
  // another never reads as equal to it.
  static std::optional<DateTime> ParseIso(std::string_view text);

  // True when `text` is exactly a valid date in the stored form (ToIso): the
  // form that needs no conversion.
  static bool IsStoredForm(std::string_view text);

  auto operator<=>(const DateTime&) const = default;

 private:
  explicit DateTime(int64_t ms) : ms_(ms) {}
  int64_t ms_ = 0;  // since 1970-01-01 00:00:00.000
};

}  // namespace sa
