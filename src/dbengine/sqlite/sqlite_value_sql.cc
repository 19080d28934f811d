#include "dbengine/sqlite/sqlite_value_sql.h"

#include <string_view>

namespace sa::dbengine::sqlite {

namespace {

std::string Quoted(std::string_view text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') out += '\'';
    out += c;
  }
  return out + "'";
}

// The arguments the conversion functions share after the value: whether it
// comes from a date field, then the target field's type and size.
std::string ConversionArguments(const Field& s, const Field& t) {
  return std::string(s.type == FieldType::kDate ? "1" : "0") + "," +
         std::to_string(static_cast<int>(t.type)) + "," + std::to_string(t.size);
}

}  // namespace

std::string ConvertExpression(const std::string& value, const Field& s, const Field& t,
                              const std::string& table) {
  const std::string convert = "dao_convert(" + value + "," + ConversionArguments(s, t) + "," +
                              Quoted(table + "." + t.name) + ")";
  if (t.type == FieldType::kText && s.type == FieldType::kDate) {
    return "CASE WHEN " + value + " IS NULL THEN NULL ELSE " + convert + " END";
  }
  return "CASE WHEN " + value + " IS NULL OR (" + ReadyCheck(value, s, t) + ") THEN " + value +
         " ELSE " + convert + " END";
}

// Made of type tests and comparisons, which cost far less per value than
// function calls. The storage class is tested first: a comparison alone
// would take the column's affinity and compare a number kept in a text
// column as text, letting '100000' pass for a 16-bit integer.
std::string ReadyCheck(const std::string& value, const Field& s, const Field& t) {
  const std::string type = "typeof(" + value + ")";
  switch (t.type) {
    case FieldType::kBoolean:
      return type + "='integer' AND " + value + " IN (0,1)";
    case FieldType::kInteger:
      return type + "='integer' AND " + value + " BETWEEN -32768 AND 32767";
    case FieldType::kLong:
      return type + "='integer' AND " + value + " BETWEEN -2147483648 AND 2147483647";
    case FieldType::kDouble:
      // Infinities fall outside the finite range and are converted, that is
      // refused; SQLite stores no NaN.
      return type + " IN ('integer','real') AND " + value +
             " BETWEEN -1.7976931348623157e308 AND 1.7976931348623157e308";
    case FieldType::kText:
      if (s.type == FieldType::kDate) return "0";  // a date becomes its text form
      return type + "='text' AND length(" + value +
             ")<=" + std::to_string(t.size > 0 ? t.size : kDefaultTextSize);
    case FieldType::kDate:
      return "dao_isstored(" + value + ")";
  }
  return "0";
}

std::string SameAsCopy(const std::string& value, const Field& s, const Field& t,
                       const std::string& copy) {
  return "dao_same(" + value + "," + ConversionArguments(s, t) + "," + copy + ")";
}

}  // namespace sa::dbengine::sqlite
