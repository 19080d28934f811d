// Values as the engine hands them over and takes them in, and the field types
// of the archive schema with their conversion rules.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "core/datetime.h"

namespace sa::dbengine {

// The engine's numeric field type codes.
enum class FieldType : int {
  kBoolean = 1,
  kInteger = 3,  // 16-bit signed
  kLong = 4,     // 32-bit signed
  kDouble = 7,
  kDate = 8,
  kText = 10,
};

// Length of a text field created without a size.
inline constexpr int kDefaultTextSize = 255;

// NULL, a whole number (booleans read as 0 or 1), a double, a UTF-8 text, or
// a date/time read from a date field.
using Value = std::variant<std::monostate, int64_t, double, std::string, DateTime>;

inline bool IsNull(const Value& v) { return std::holds_alternative<std::monostate>(v); }

// Converts `v` for storage in a field of `type` and text `size`, the way the
// engine converts on every write: numbers from numeric texts, dates from date
// texts, a date into a text field as "YYYY-MM-DD[ HH:MM:SS]", halves to even
// for whole-number fields. NULL stays NULL and an empty text stays empty.
// Throws sa::Error when the value cannot be converted, is out of the type's
// range or is longer than `size` characters; `field` names it in the cause.
Value ConvertForField(const Value& v, FieldType type, int size, const std::string& field);

// A number as stored in a field or a text column: a whole decimal number or
// one with a fraction or exponent, with optional blanks around it; nullopt
// when `text` is not entirely a number.
std::optional<double> ParseStoredNumber(std::string_view text);

// Number of characters (code points) in UTF-8 text.
size_t Utf8Length(std::string_view text);

// A short text for messages: the value as it would be written to a text field.
std::string ValueToText(const Value& v);

}  // namespace sa::dbengine
