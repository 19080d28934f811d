// Result sets fetched many rows per driver call, into bound column arrays
// (SQL_ATTR_ROW_ARRAY_SIZE). A driver that takes smaller arrays, or none,
// gets the size it accepts, down to one row per call.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "dbengine/odbc/odbc_handle.h"
#include "dbengine/odbc/row_block.h"
#include "dbengine/table_def.h"

namespace sa::dbengine::odbc {

// Fetches an executed statement whose first result column is a whole-number
// identity and whose next ones are `columns`, many rows per call, into
// `rows`. A text longer than its column's buffer
// is not taken from the arrays: its row is added without it and its
// identity returned, for the caller to read that row value by value. A row
// the driver cannot convert fails the fetch with the driver's error. The
// statement is used up: freed when the fetch ends.
std::vector<int64_t> FetchRows(Statement& stmt, std::span<const Field> columns, RowBlock& rows);

}  // namespace sa::dbengine::odbc
