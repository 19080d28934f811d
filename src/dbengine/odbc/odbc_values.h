// Values between an ODBC driver and the engine: dates as the driver's
// timestamps, and a column of the current row read value by value.
#pragma once

#include "dbengine/odbc/odbc_handle.h"
#include "dbengine/value.h"

namespace sa::dbengine::odbc {

// A date as the driver's timestamp, to the millisecond.
SQL_TIMESTAMP_STRUCT ToTimestamp(const DateTime& value);
// A driver's timestamp as a date, to the millisecond: a finer part rounds
// up, but never past the second.
Value FromTimestamp(const SQL_TIMESTAMP_STRUCT& ts);

// Whether values of `type` travel as whole numbers (SQL_C_SBIGINT).
bool IsWholeNumber(FieldType type);

// Reads column `column` of the current row as the engine's value of `type`,
// value by value (SQLGetData): texts of any length.
Value ReadValue(const Statement& stmt, SQLUSMALLINT column, FieldType type);

}  // namespace sa::dbengine::odbc
