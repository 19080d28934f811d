#include "dbengine/value.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "core/blanks.h"
#include "core/error.h"
#include "core/round.h"
#include "dbengine/engine.h"
#include "dbengine/table_def.h"

namespace sa::dbengine {

namespace {

// Names the field and the value; a long value is cut, with its length said,
// so that a message or a log line stays readable.
Error Refused(EngineError number, const std::string& what, const std::string& field,
              const Value& v) {
  constexpr size_t kShown = 40;
  std::string text = ValueToText(v);
  const size_t length = Utf8Length(text);
  if (length > kShown + 10) {
    size_t end = 0;
    for (size_t n = 0; n < kShown; ++n) {
      do ++end;
      while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80);
    }
    text = text.substr(0, end) + "...\" (" + std::to_string(length) + " characters)";
  } else {
    text += "\"";
  }
  return Error(number, what, "field " + field + ", value \"" + text);
}

// The number a value stands for, if any: numbers as they are, numeric texts
// parsed. Dates do not convert to numbers, and no field holds an infinity or
// NaN, so neither stands for a number.
std::optional<double> AsNumber(const Value& v) {
  if (const auto* i = std::get_if<int64_t>(&v)) return static_cast<double>(*i);
  if (const auto* d = std::get_if<double>(&v)) {
    if (!std::isfinite(*d)) return std::nullopt;
    return *d;
  }
  if (const auto* s = std::get_if<std::string>(&v)) return ParseStoredNumber(*s);
  return std::nullopt;
}

Value ToWhole(const Value& v, int64_t lo, int64_t hi, const std::string& field) {
  if (const auto* i = std::get_if<int64_t>(&v)) {
    if (*i < lo || *i > hi)
      throw Refused(EngineError::kNumericOverflow, "Numeric field overflow.", field, v);
    return *i;
  }
  const std::optional<double> n = AsNumber(v);
  if (!n || !std::isfinite(*n))
    throw Refused(EngineError::kDataConversion, "Data type conversion error.", field, v);
  const double r = RoundHalfEven(*n);
  if (r < static_cast<double>(lo) || r > static_cast<double>(hi)) {
    throw Refused(EngineError::kNumericOverflow, "Numeric field overflow.", field, v);
  }
  return static_cast<int64_t>(r);
}

std::string NumberText(double d) {
  if (d == std::floor(d) && std::fabs(d) < 1e15) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.0f", d);
    return buf;
  }
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15g", d);
  if (std::strtod(buf, nullptr) != d) std::snprintf(buf, sizeof buf, "%.17g", d);
  return buf;
}

}  // namespace

std::optional<double> ParseStoredNumber(std::string_view text) {
  text = TrimBlanks(text);
  if (text.empty()) return std::nullopt;
  // Decimal only: optional sign, digits with an optional point, optional exponent.
  size_t i = 0;
  if (text[i] == '+' || text[i] == '-') ++i;
  size_t digits = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
  }
  if (digits == 0) return std::nullopt;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    size_t exp = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++exp;
    if (exp == 0) return std::nullopt;
  }
  if (i != text.size()) return std::nullopt;
  const std::string copy(text);
  const double d = std::strtod(copy.c_str(), nullptr);
  if (!std::isfinite(d)) return std::nullopt;
  return d;
}

size_t Utf8Length(std::string_view text) {
  size_t n = 0;
  for (unsigned char c : text) {
    if ((c & 0xC0) != 0x80) ++n;
  }
  return n;
}

std::string ValueToText(const Value& v) {
  if (IsNull(v)) return "Null";
  if (const auto* i = std::get_if<int64_t>(&v)) return std::to_string(*i);
  if (const auto* d = std::get_if<double>(&v)) return NumberText(*d);
  if (const auto* dt = std::get_if<DateTime>(&v)) return dt->ToText();
  return std::get<std::string>(v);
}

Value ConvertForField(const Value& v, FieldType type, int size, const std::string& field) {
  if (IsNull(v)) return v;
  switch (type) {
    case FieldType::kBoolean: {
      if (const auto* s = std::get_if<std::string>(&v)) {
        const std::string w = LowerAscii(TrimBlanks(*s));
        if (w == "true") return int64_t{1};
        if (w == "false") return int64_t{0};
      }
      const std::optional<double> n = AsNumber(v);
      if (!n) throw Refused(EngineError::kDataConversion, "Data type conversion error.", field, v);
      return int64_t{*n != 0 ? 1 : 0};
    }
    case FieldType::kInteger:
      return ToWhole(v, -32768, 32767, field);
    case FieldType::kLong:
      return ToWhole(v, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max(),
                     field);
    case FieldType::kDouble: {
      const std::optional<double> n = AsNumber(v);
      if (!n) throw Refused(EngineError::kDataConversion, "Data type conversion error.", field, v);
      return *n;
    }
    case FieldType::kDate: {
      if (std::holds_alternative<DateTime>(v)) return v;
      if (const auto* s = std::get_if<std::string>(&v)) {
        if (auto dt = DateTime::ParseIso(TrimBlanks(*s))) return *dt;
      }
      throw Refused(EngineError::kDataConversion, "Data type conversion error.", field, v);
    }
    case FieldType::kText: {
      std::string text = ValueToText(v);
      const int limit = size > 0 ? size : kDefaultTextSize;
      if (Utf8Length(text) > static_cast<size_t>(limit)) {
        throw Refused(EngineError::kFieldTooSmall,
                      "The field is too small to accept the amount of data you attempted to add.",
                      field, v);
      }
      return text;
    }
  }
  throw Error(EngineError::kInvalidArgument, "Invalid field type.", field);
}

}  // namespace sa::dbengine
