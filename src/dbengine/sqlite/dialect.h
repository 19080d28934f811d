// The engine's SQL in SQLite's dialect, and SQLite's quoting of names. Date literals between "#"
// signs become the stored text form, and a comparison of a field with one becomes
// dao_datecmp(field, literal) <op> 0, which compares by calendar date and
// time whatever accepted form the row holds (and is NULL for a row holding
// no date, which no comparison then selects).
#pragma once

#include <string>
#include <string_view>

namespace sa::dbengine::sqlite {

// Throws sa::Error (EngineError::kSyntax) on an unterminated or unreadable
// date literal.
std::string TranslateSql(std::string_view sql);

// Quotes an identifier for SQLite.
std::string QuoteName(std::string_view name);

}  // namespace sa::dbengine::sqlite
