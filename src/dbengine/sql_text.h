// The engine's SQL texts as the backends' dialects read them: a lexer that
// knows the engine's date literals between "#" signs (ISO
// "#yyyy-mm-dd[ hh:mm:ss]#" or US "#mm/dd/yyyy#"), quoted texts and names,
// words and numbers; the comparison of a field with a literal; and the parts
// of a single-table SELECT. Each backend turns the literals into its own form
// (sqlite/dialect.h, odbc/dialect.h).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/datetime.h"

namespace sa::dbengine {

// One piece of an SQL text.
struct SqlToken {
  enum class Kind {
    kQuoted,  // a text in quotes or a name in quotes or brackets, quotes included
    kDate,    // a date literal: `text` is it with its "#" signs, `date` its value
    kWord,    // a name or keyword: letters, digits, "_" and non-ASCII, not led by a digit
    kNumber,  // digits, with the letters and dots that follow them
    kOther,   // one character of anything else
  };
  Kind kind = Kind::kOther;
  std::string_view text;
  DateTime date;
};

// Reads an SQL text token by token; the tokens put end to end are the text.
class SqlLexer {
 public:
  explicit SqlLexer(std::string_view sql) : sql_(sql) {}
  // The next token into `token`; false at the end of the text. Throws
  // sa::Error (EngineError::kSyntax) on an unterminated or unreadable date
  // literal. A quote without its closing one runs to the end.
  bool Next(SqlToken& token);

 private:
  std::string_view sql_;
  size_t at_ = 0;
};

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
