#include "text_forms.h"

#include <cstdio>

namespace sa::demo {

std::string Stamp(const CivilDate& d, int second) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", d.year, d.month, d.day,
                second / 3600, second / 60 % 60, second % 60);
  return buf;
}

std::string TimeOfDay(int second) { return Stamp(CivilDate{1899, 12, 30}, second); }

std::string DayText(const CivilDate& d) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", d.day, d.month, d.year);
  return buf;
}

std::string Clock(int second, bool withSeconds) {
  char buf[16];
  if (withSeconds) {
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", second / 3600, second / 60 % 60, second % 60);
  } else {
    std::snprintf(buf, sizeof buf, "%02d:%02d", second / 3600, second / 60 % 60);
  }
  return buf;
}

std::string Ean13(const std::string& digits12) {
  int sum = 0;
  for (size_t i = 0; i < 12; ++i) sum += (digits12[i] - '0') * (i % 2 == 0 ? 1 : 3);
  return digits12 + static_cast<char>('0' + (10 - sum % 10) % 10);
}

std::string Truncate(const std::string& text, size_t n) {
  size_t count = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
      if (count == n) return text.substr(0, i);
      ++count;
    }
  }
  return text;
}

}  // namespace sa::demo
