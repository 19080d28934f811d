// Turns the engine's SQL texts into SQLite's dialect. Date literals between
// "#" signs (ISO "#yyyy-mm-dd[ hh:mm:ss]#" or US "#mm/dd/yyyy#") become the
// stored text form, and a comparison of a field with one becomes
// dao_datecmp(field, literal) <op> 0, which compares by calendar date and
// time whatever accepted form the row holds (and is NULL for a row holding
// no date, which no comparison then selects).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/datetime.h"

namespace sa::dbengine {

// Throws sa::Error (syntax) on an unterminated or unreadable date literal.
std::string TranslateSql(std::string_view sql);

// Reads the text between the "#" signs of a date literal.
std::optional<DateTime> ParseDateLiteral(std::string_view text);

// A comparison of a field with what follows it: "<field> <op> ".
struct FieldComparison {
  std::string field;  // as written, quotes or brackets included
  std::string op;     // "<", "<=", "=", ">=", ">", "<>"
};
// When `out` ends with a comparison of a field (a name, quoted or not),
// removes it from `out` and returns it; nullopt when `out` ends otherwise.
std::optional<FieldComparison> TakeFieldComparison(std::string& out);

// The parts of "SELECT list FROM table rest"; nullopt when `sql` is not a
// single-table SELECT of that shape.
struct SelectParts {
  std::string list;   // "*" or a comma-separated list of field names
  std::string table;  // unquoted
  std::string rest;   // WHERE / ORDER BY clauses, already translated
};
std::optional<SelectParts> SplitSelect(std::string_view translatedSql);

}  // namespace sa::dbengine
