#include "core/datetime.h"

#include <cstdio>

namespace sa {

// Howard Hinnant's days_from_civil / civil_from_days.
int64_t DaysFromCivil(const CivilDate& d) {
  const int64_t y = d.month <= 2 ? d.year - 1 : d.year;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t mp = (d.month + 9) % 12;
  const int64_t doy = (153 * mp + 2) / 5 + d.day - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

CivilDate CivilFromDays(int64_t z) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  const int year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
  return {year, month, day};
}

bool IsValidDate(const CivilDate& d) {
  if (d.year < 1 || d.year > 9999 || d.month < 1 || d.month > 12 || d.day < 1) return false;
  return CivilFromDays(DaysFromCivil(d)) == d;
}

std::string DateTime::ToIso() const {
  const CivilDate d = Date();
  const int64_t ms = MsOfDay();
  const int s = static_cast<int>(ms / 1000);
  char buf[48];
  if (ms % 1000 == 0) {
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", d.year, d.month, d.day,
                  s / 3600, s / 60 % 60, s % 60);
  } else {
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", d.year, d.month, d.day,
                  s / 3600, s / 60 % 60, s % 60, static_cast<int>(ms % 1000));
  }
  return buf;
}

std::string DateTime::ToText() const {
  std::string iso = ToIso();
  if (IsMidnight()) iso.resize(10);
  return iso;
}

std::string DateTime::MonthKey() const {
  const CivilDate d = Date();
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d%02d", d.year, d.month);
  return buf;
}

namespace {

// Reads exactly `n` digits at `pos`; advances `pos`.
bool Digits(std::string_view t, size_t& pos, size_t n, int& out) {
  if (pos + n > t.size()) return false;
  int v = 0;
  for (size_t i = 0; i < n; ++i) {
    const char c = t[pos + i];
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  pos += n;
  out = v;
  return true;
}

bool Expect(std::string_view t, size_t& pos, char c) {
  if (pos >= t.size() || t[pos] != c) return false;
  ++pos;
  return true;
}

}  // namespace

bool DateTime::IsStoredForm(std::string_view t) {
  // "YYYY-MM-DD HH:MM:SS", or the same with ".fff" other than ".000".
  if (t.size() == 23) {
    if (t[19] != '.' || t.substr(20) == "000") return false;
    for (size_t i = 20; i < 23; ++i) {
      if (t[i] < '0' || t[i] > '9') return false;
    }
    t = t.substr(0, 19);
  }
  if (t.size() != 19 || t[4] != '-' || t[7] != '-' || t[10] != ' ' || t[13] != ':' ||
      t[16] != ':') {
    return false;
  }
  auto two = [&](size_t at) {
    const unsigned a = static_cast<unsigned char>(t[at]) - '0';
    const unsigned b = static_cast<unsigned char>(t[at + 1]) - '0';
    return a <= 9 && b <= 9 ? static_cast<int>(a * 10 + b) : -1;
  };
  const int c = two(0), y = two(2), mo = two(5), d = two(8), h = two(11), mi = two(14), s = two(17);
  if (c < 0 || y < 0 || mo < 1 || mo > 12 || d < 1 || h < 0 || h > 23 || mi < 0 || mi > 59 ||
      s < 0 || s > 59) {
    return false;
  }
  static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const int year = c * 100 + y;
  if (year < 1) return false;
  if (d > kDays[mo - 1]) return false;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return !(mo == 2 && d == 29 && !leap);
}

std::optional<DateTime> DateTime::ParseIso(std::string_view t) {
  size_t pos = 0;
  CivilDate d;
  if (!Digits(t, pos, 4, d.year) || !Expect(t, pos, '-') || !Digits(t, pos, 2, d.month) ||
      !Expect(t, pos, '-') || !Digits(t, pos, 2, d.day) || !IsValidDate(d)) {
    return std::nullopt;
  }
  if (pos == t.size()) return FromDate(d);
  if (t[pos] != ' ' && t[pos] != 'T') return std::nullopt;
  ++pos;
  int h = 0, mi = 0, s = 0, ms = 0;
  if (!Digits(t, pos, 2, h) || !Expect(t, pos, ':') || !Digits(t, pos, 2, mi)) return std::nullopt;
  if (pos < t.size() && t[pos] == ':') {
    ++pos;
    if (!Digits(t, pos, 2, s)) return std::nullopt;
    if (pos < t.size() && t[pos] == '.') {
      ++pos;
      const size_t start = pos;
      bool finer = false;  // a non-zero digit past the milliseconds
      while (pos < t.size() && t[pos] >= '0' && t[pos] <= '9') {
        if (pos - start < 3) {
          ms = ms * 10 + (t[pos] - '0');
        } else if (t[pos] != '0') {
          finer = true;
        }
        ++pos;
      }
      if (pos == start) return std::nullopt;
      for (size_t n = pos - start; n < 3; ++n) ms *= 10;
      // Up, but within the second: the date and month never change.
      if (finer && ms < 999) ++ms;
    }
  }
  if (pos != t.size() || h > 23 || mi > 59 || s > 59) return std::nullopt;
  return FromParts(d, h, mi, s, ms);
}

}  // namespace sa
