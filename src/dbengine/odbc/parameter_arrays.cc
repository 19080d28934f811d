#ifdef _WIN32
#include <windows.h>  // the ODBC headers take their types from it there
#endif

#include "dbengine/odbc/parameter_arrays.h"

#include <algorithm>
#include <cstring>

#include "dbengine/engine.h"
#include "dbengine/odbc/odbc_values.h"

namespace sa::dbengine::odbc {

ParameterArrays::ParameterArrays(Statement& insert, std::span<const Field> columns,
                                 bool datesAsText)
    : insert_(insert), columns_(columns.begin(), columns.end()), datesAsText_(datesAsText) {
  const SQLHSTMT h = insert_.get();
  arraySize_ = ArraySize(h, SQL_ATTR_PARAMSET_SIZE, kRowsPerCall);
  status_.assign(arraySize_, SQL_PARAM_UNUSED);
  if (!SQL_SUCCEEDED(SQLSetStmtAttr(h, SQL_ATTR_PARAM_STATUS_PTR, status_.data(), 0)) ||
      !SQL_SUCCEEDED(SQLSetStmtAttr(h, SQL_ATTR_PARAMS_PROCESSED_PTR, &processed_, 0))) {
    // Without a status per row a failed row could not be told: one at a time.
    SQLSetStmtAttr(h, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(SQLULEN{1}), 0);
    arraySize_ = 1;
  } else if (arraySize_ > 1 && ArraySize(h, SQL_ATTR_ROW_ARRAY_SIZE, arraySize_) != arraySize_) {
    // The row array size, which does nothing to an INSERT, follows the
    // parameter array size: Wine 10's odbc32 hands the driver copies of the
    // parameters' length indicators, as many per parameter as the row array
    // size, so that otherwise only the first row's lengths would arrive.
    SQLSetStmtAttr(h, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(SQLULEN{1}), 0);
    arraySize_ = 1;
  }
  buffers_.resize(columns_.size());
  lengths_.assign(columns_.size(), std::vector<SQLLEN>(arraySize_));
}

ParameterArrays::~ParameterArrays() {
  const SQLHSTMT h = insert_.get();
  SQLFreeStmt(h, SQL_RESET_PARAMS);
  SQLSetStmtAttr(h, SQL_ATTR_PARAM_STATUS_PTR, nullptr, 0);
  SQLSetStmtAttr(h, SQL_ATTR_PARAMS_PROCESSED_PTR, nullptr, 0);
  SQLSetStmtAttr(h, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(SQLULEN{1}), 0);
}

void ParameterArrays::Insert(std::span<const Value> values) {
  const size_t width = columns_.size();
  if (width == 0) return;
  const size_t rows = values.size() / width;
  for (size_t first = 0; first < rows; first += arraySize_) {
    const size_t n = std::min(arraySize_, rows - first);
    Execute(values.subspan(first * width, n * width), n);
  }
}

void ParameterArrays::Execute(std::span<const Value> values, size_t rows) {
  const SQLHSTMT h = insert_.get();
  const size_t width = columns_.size();
  std::vector<WideString> texts;
  for (size_t c = 0; c < width; ++c) {
    const Field& col = columns_[c];
    std::vector<char>& buffer = buffers_[c];
    std::vector<SQLLEN>& lengths = lengths_[c];
    SQLSMALLINT cType = SQL_C_WCHAR;
    SQLSMALLINT sqlType = SQL_WVARCHAR;
    SQLULEN size = 0;
    SQLSMALLINT digits = 0;
    size_t element = 0;
    const bool asText =
        col.type == FieldType::kText || (col.type == FieldType::kDate && datesAsText_);
    if (asText) {
      texts.assign(rows, {});
      size_t units = 1;
      for (size_t r = 0; r < rows; ++r) {
        const Value& v = values[r * width + c];
        if (IsNull(v)) continue;
        const auto* date = std::get_if<DateTime>(&v);
        texts[r] = Widen(date ? date->ToIso() : ValueToText(v));
        units = std::max(units, texts[r].size());
      }
      element = (units + 1) * sizeof(SQLWCHAR);
      size = units;
      buffer.assign(element * rows, 0);
      for (size_t r = 0; r < rows; ++r) {
        const bool null = IsNull(values[r * width + c]);
        lengths[r] = null ? SQL_NULL_DATA : static_cast<SQLLEN>(texts[r].size() * sizeof(SQLWCHAR));
        if (!null) {
          std::memcpy(buffer.data() + r * element, texts[r].data(),
                      texts[r].size() * sizeof(SQLWCHAR));
        }
      }
    } else {
      if (IsWholeNumber(col.type)) {
        cType = SQL_C_SBIGINT;
        sqlType = col.type == FieldType::kBoolean   ? SQL_BIT
                  : col.type == FieldType::kInteger ? SQL_SMALLINT
                                                    : SQL_INTEGER;
        element = sizeof(SQLBIGINT);
      } else if (col.type == FieldType::kDouble) {
        cType = SQL_C_DOUBLE;
        sqlType = SQL_DOUBLE;
        element = sizeof(double);
      } else {
        cType = SQL_C_TYPE_TIMESTAMP;
        sqlType = SQL_TYPE_TIMESTAMP;
        size = 23;
        digits = 3;
        element = sizeof(SQL_TIMESTAMP_STRUCT);
      }
      buffer.assign(element * rows, 0);
      for (size_t r = 0; r < rows; ++r) {
        const Value& v = values[r * width + c];
        lengths[r] = IsNull(v) ? SQL_NULL_DATA : 0;
        char* at = buffer.data() + r * element;
        if (const auto* x = std::get_if<int64_t>(&v)) {
          const SQLBIGINT n = *x;
          if (cType == SQL_C_SBIGINT) std::memcpy(at, &n, sizeof n);
        } else if (const auto* d = std::get_if<double>(&v)) {
          if (cType == SQL_C_DOUBLE) std::memcpy(at, d, sizeof *d);
        } else if (const auto* t = std::get_if<DateTime>(&v)) {
          const SQL_TIMESTAMP_STRUCT ts = ToTimestamp(*t);
          if (cType == SQL_C_TYPE_TIMESTAMP) std::memcpy(at, &ts, sizeof ts);
        }
      }
    }
    insert_.Check(SQLBindParameter(h, static_cast<SQLUSMALLINT>(c + 1), SQL_PARAM_INPUT, cType,
                                   sqlType, size, digits, buffer.data(),
                                   static_cast<SQLLEN>(element), lengths.data()));
  }
  if (arraySize_ > 1) {
    insert_.Check(SQLSetStmtAttr(h, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(rows), 0));
  }
  std::fill(status_.begin(), status_.end(), SQL_PARAM_UNUSED);
  // A driver that does not count the rows it took leaves the count as set.
  processed_ = rows;
  const SQLRETURN rc = insert_.Run([&] { return SQLExecute(h); });
  insert_.Check(rc);
  for (size_t r = 0; r < rows && arraySize_ > 1; ++r) {
    if (status_[r] == SQL_PARAM_ERROR) throw DiagnosticError(SQL_HANDLE_STMT, h, insert_.Context());
  }
  if (processed_ != rows) {
    throw Error(
        EngineError::kCallFailed, "The driver did not insert every row.",
        insert_.Context() + ": " + std::to_string(processed_) + " of " + std::to_string(rows));
  }
}

}  // namespace sa::dbengine::odbc
