#ifdef _WIN32
#include <windows.h>  // the ODBC headers take their types from it there
#endif

#include "dbengine/odbc/odbc_values.h"

namespace sa::dbengine::odbc {

namespace {

// Milliseconds of a timestamp's fraction (nanoseconds). A finer part rounds
// up, as dates read from text do, but never past the second: the day and the
// month a record belongs to do not change.
int FractionMs(SQLUINTEGER fraction) {
  int ms = static_cast<int>(fraction / 1000000);
  if (fraction % 1000000 != 0 && ms < 999) ++ms;
  return ms;
}

}  // namespace

Value FromTimestamp(const SQL_TIMESTAMP_STRUCT& ts) {
  return DateTime::FromParts(CivilDate{ts.year, ts.month, ts.day}, ts.hour, ts.minute, ts.second,
                             FractionMs(ts.fraction));
}

bool IsWholeNumber(FieldType type) {
  return type == FieldType::kBoolean || type == FieldType::kInteger || type == FieldType::kLong;
}

SQL_TIMESTAMP_STRUCT ToTimestamp(const DateTime& value) {
  const CivilDate d = value.Date();
  const int64_t ms = value.MsOfDay();
  const int64_t s = ms / 1000;
  return SQL_TIMESTAMP_STRUCT{static_cast<SQLSMALLINT>(d.year),
                              static_cast<SQLUSMALLINT>(d.month),
                              static_cast<SQLUSMALLINT>(d.day),
                              static_cast<SQLUSMALLINT>(s / 3600),
                              static_cast<SQLUSMALLINT>(s / 60 % 60),
                              static_cast<SQLUSMALLINT>(s % 60),
                              static_cast<SQLUINTEGER>(ms % 1000 * 1000000)};
}

Value ReadValue(const Statement& stmt, SQLUSMALLINT column, FieldType type) {
  SQLLEN length = 0;
  switch (type) {
    case FieldType::kBoolean:
    case FieldType::kInteger:
    case FieldType::kLong: {
      SQLBIGINT v = 0;
      stmt.Check(SQLGetData(stmt.get(), column, SQL_C_SBIGINT, &v, 0, &length));
      if (length == SQL_NULL_DATA) return std::monostate{};
      if (type == FieldType::kBoolean) return int64_t{v != 0};
      return static_cast<int64_t>(v);
    }
    case FieldType::kDouble: {
      double v = 0;
      stmt.Check(SQLGetData(stmt.get(), column, SQL_C_DOUBLE, &v, 0, &length));
      if (length == SQL_NULL_DATA) return std::monostate{};
      return v;
    }
    case FieldType::kDate: {
      SQL_TIMESTAMP_STRUCT ts{};
      stmt.Check(SQLGetData(stmt.get(), column, SQL_C_TYPE_TIMESTAMP, &ts, sizeof ts, &length));
      if (length == SQL_NULL_DATA) return std::monostate{};
      return FromTimestamp(ts);
    }
    case FieldType::kText:
      break;
  }
  WideString text;
  SQLWCHAR buffer[1024];
  for (;;) {
    const SQLRETURN rc =
        SQLGetData(stmt.get(), column, SQL_C_WCHAR, buffer, sizeof buffer, &length);
    if (rc == SQL_NO_DATA) break;
    stmt.Check(rc);
    if (length == SQL_NULL_DATA) return std::monostate{};
    const size_t capacity = sizeof buffer / sizeof buffer[0] - 1;
    const size_t got = (length == SQL_NO_TOTAL || static_cast<size_t>(length) / 2 > capacity)
                           ? capacity
                           : static_cast<size_t>(length) / 2;
    text.append(buffer, got);
    if (rc == SQL_SUCCESS) break;
  }
  return Narrow(text);
}

}  // namespace sa::dbengine::odbc
