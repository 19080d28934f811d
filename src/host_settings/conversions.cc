#include "host_settings/conversions.h"

#include <charconv>
#include <cmath>
#include <string>

#include "core/blanks.h"
#include "core/error.h"
#include "core/round.h"

namespace sa::host_settings {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The value of `digits`: decimal digits with at most one '.', at least one
// digit, no sign. from_chars rounds correctly; a value past the double range
// becomes an infinity, one too small to represent becomes zero.
double UnsignedValue(std::string_view digits) {
  double value = 0;
  const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), value,
                                      std::chars_format::fixed);
  if (result.ec == std::errc::result_out_of_range) {
    const size_t firstNonZero = digits.find_first_not_of('0');
    const bool large = firstNonZero != std::string_view::npos && digits[firstNonZero] != '.';
    return large ? HUGE_VAL : 0.0;
  }
  return value;
}

[[noreturn]] void TypeMismatch() { throw Error(ErrorCode::kTypeMismatch, "Type mismatch"); }
[[noreturn]] void Overflow() { throw Error(ErrorCode::kOverflow, "Overflow"); }

bool EqualsIgnoringCase(std::string_view text, std::string_view lower) {
  if (text.size() != lower.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lower[i]) return false;
  }
  return true;
}

}  // namespace

std::optional<double> ParseSettingsNumber(std::string_view text) {
  text = TrimBlanks(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  size_t digits = 0;
  size_t points = 0;
  for (const char c : text) {
    if (IsDigit(c)) {
      ++digits;
    } else if (c == '.') {
      ++points;
    } else {
      return std::nullopt;
    }
  }
  if (digits == 0 || points > 1) return std::nullopt;
  const double value = UnsignedValue(text);
  return negative ? -value : value;
}

bool ToBoolean(std::string_view text) {
  const std::string_view word = TrimBlanks(text);
  if (EqualsIgnoringCase(word, "true")) return true;
  if (EqualsIgnoringCase(word, "false")) return false;
  const std::optional<double> number = ParseSettingsNumber(word);
  if (!number) TypeMismatch();
  if (!std::isfinite(*number)) Overflow();
  return *number != 0;
}

int16_t ToInt16(std::string_view text) {
  const std::optional<double> number = ParseSettingsNumber(text);
  if (!number) TypeMismatch();
  const double rounded = RoundHalfEven(*number);
  if (!(rounded >= -32768 && rounded <= 32767)) Overflow();
  return static_cast<int16_t>(rounded);
}

double ToNumber(std::string_view text) {
  const std::optional<double> number = ParseSettingsNumber(text);
  if (!number) TypeMismatch();
  if (!std::isfinite(*number)) Overflow();
  return *number;
}

double LeadingNumber(std::string_view text) {
  std::string digits;
  bool negative = false;
  bool started = false;  // a sign, digit or point has been read
  bool point = false;
  for (const char c : text) {
    if (IsBlank(c)) continue;
    if (IsDigit(c)) {
      digits += c;
    } else if ((c == '+' || c == '-') && !started) {
      negative = c == '-';
    } else if (c == '.' && !point) {
      point = true;
      digits += c;
    } else {
      break;
    }
    started = true;
  }
  if (digits.find_first_of("0123456789") == std::string::npos) return 0;
  const double value = UnsignedValue(digits);
  return negative ? -value : value;
}

}  // namespace sa::host_settings
