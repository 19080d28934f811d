#ifdef _WIN32
#include <windows.h>  // the ODBC headers take their types from it there
#endif

#include "dbengine/odbc/fetch_rows.h"

#include <algorithm>
#include <cstring>

#include "dbengine/odbc/odbc_values.h"

namespace sa::dbengine::odbc {

namespace {

// Text buffers of fetched columns, in UTF-16 units: the column's size where
// the catalog gives one up to this, longer values read one by one.
constexpr size_t kDefaultTextUnits = 255;
constexpr size_t kMostTextUnits = 1024;

// Frees the statement when its fetch ends, on every path, with the arrays
// still bound: the statement serves one block read and goes with its arrays.
// Unbinding it and setting its row array back instead is legal ODBC, but
// Wine 10's odbc32 reads a null pointer when the row array size changes after
// SQLFreeStmt(SQL_UNBIND).
class UsedUp {
 public:
  explicit UsedUp(Statement& stmt) : stmt_(stmt) {}
  ~UsedUp() { stmt_.Free(); }
  UsedUp(const UsedUp&) = delete;
  UsedUp& operator=(const UsedUp&) = delete;

 private:
  Statement& stmt_;
};

// Two units to spare beyond the column's size, and the terminator: a text
// cut to the buffer is told by its length (see FetchRows), and one of
// characters of a single unit each never is.
size_t TextUnits(const Field& c) {
  const size_t size = c.size > 0 ? static_cast<size_t>(c.size) : kDefaultTextUnits;
  return std::min(size + 2, kMostTextUnits) + 1;
}

}  // namespace

std::vector<int64_t> FetchRows(Statement& stmt, std::span<const Field> columns, RowBlock& rows) {
  const SQLHSTMT h = stmt.get();
  const SQLULEN size = ArraySize(h, SQL_ATTR_ROW_ARRAY_SIZE, kRowsPerCall);
  std::vector<SQLUSMALLINT> status(size, SQL_ROW_NOROW);
  SQLULEN fetched = 0;
  std::vector<SQLBIGINT> ids(size);
  std::vector<SQLLEN> idLengths(size);
  // Per column: `size` elements of `element` bytes, and their indicators.
  std::vector<std::vector<char>> data(columns.size());
  std::vector<std::vector<SQLLEN>> lengths(columns.size(), std::vector<SQLLEN>(size));
  std::vector<size_t> element(columns.size());
  // Declared after the arrays: the statement goes before they do.
  const UsedUp usedUp(stmt);

  stmt.Check(SQLSetStmtAttr(h, SQL_ATTR_ROW_STATUS_PTR, status.data(), 0));
  stmt.Check(SQLSetStmtAttr(h, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0));
  stmt.Check(SQLBindCol(h, 1, SQL_C_SBIGINT, ids.data(), 0, idLengths.data()));
  for (size_t c = 0; c < columns.size(); ++c) {
    SQLSMALLINT cType = SQL_C_WCHAR;
    if (IsWholeNumber(columns[c].type)) {
      cType = SQL_C_SBIGINT;
      element[c] = sizeof(SQLBIGINT);
    } else if (columns[c].type == FieldType::kDouble) {
      cType = SQL_C_DOUBLE;
      element[c] = sizeof(double);
    } else if (columns[c].type == FieldType::kDate) {
      cType = SQL_C_TYPE_TIMESTAMP;
      element[c] = sizeof(SQL_TIMESTAMP_STRUCT);
    } else {
      element[c] = TextUnits(columns[c]) * sizeof(SQLWCHAR);
    }
    data[c].resize(element[c] * size);
    stmt.Check(SQLBindCol(h, static_cast<SQLUSMALLINT>(c + 2), cType, data[c].data(),
                          static_cast<SQLLEN>(element[c]), lengths[c].data()));
  }

  std::vector<int64_t> longer;
  for (;;) {
    fetched = 0;
    std::fill(status.begin(), status.end(), SQL_ROW_NOROW);
    const SQLRETURN rc = stmt.Run([&] { return SQLFetch(h); });
    if (rc == SQL_NO_DATA) break;
    stmt.Check(rc);
    for (size_t r = 0; r < fetched && r < size; ++r) {
      if (status[r] == SQL_ROW_ERROR) {
        throw DiagnosticError(SQL_HANDLE_STMT, h, stmt.Context());
      }
      if (status[r] == SQL_ROW_NOROW || idLengths[r] == SQL_NULL_DATA) continue;
      const int64_t id = ids[r];
      Value* out = rows.Add(id);
      bool whole = true;
      for (size_t c = 0; c < columns.size(); ++c) {
        const SQLLEN length = lengths[c][r];
        if (length == SQL_NULL_DATA) continue;
        const char* at = data[c].data() + r * element[c];
        switch (columns[c].type) {
          case FieldType::kBoolean:
          case FieldType::kInteger:
          case FieldType::kLong: {
            SQLBIGINT v = 0;
            std::memcpy(&v, at, sizeof v);
            out[c] =
                columns[c].type == FieldType::kBoolean ? int64_t{v != 0} : static_cast<int64_t>(v);
            break;
          }
          case FieldType::kDouble: {
            double v = 0;
            std::memcpy(&v, at, sizeof v);
            out[c] = v;
            break;
          }
          case FieldType::kDate: {
            SQL_TIMESTAMP_STRUCT ts{};
            std::memcpy(&ts, at, sizeof ts);
            out[c] = FromTimestamp(ts);
            break;
          }
          case FieldType::kText: {
            // The last unit of the buffer holds the terminator. Not every
            // driver gives the length of a text it cut, only of what it
            // kept: one that fills its buffer to within a character may be
            // longer.
            if (length == SQL_NO_TOTAL || static_cast<size_t>(length) + 2 * sizeof(SQLWCHAR) >
                                              element[c] - sizeof(SQLWCHAR)) {
              whole = false;
              break;
            }
            out[c] = Narrow(reinterpret_cast<const SQLWCHAR*>(at),
                            static_cast<size_t>(length) / sizeof(SQLWCHAR));
            break;
          }
        }
      }
      if (!whole) longer.push_back(id);
    }
  }
  return longer;
}

}  // namespace sa::dbengine::odbc
