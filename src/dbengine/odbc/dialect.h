// The engine's SQL in a driver's dialect: the run's "#yyyy-mm-dd#" date
// literals become the family's form (ODBC {ts '...'} escapes, or its
// comparison of a stored date), and names of tables and fields are quoted as
// the database spells them, found without regard to case.
#pragma once

#include <string>
#include <string_view>

#include "dbengine/odbc/catalog.h"

namespace sa::dbengine::odbc {

// `sql` for the driver; the fields quoted are those of `columnsOf`, or, when
// it is null, of the first table the text names. Throws sa::Error
// (EngineError::kSyntax) on an unterminated or unreadable date literal.
std::string TranslateSql(Source& src, std::string_view sql, const TableInfo* columnsOf);

}  // namespace sa::dbengine::odbc
