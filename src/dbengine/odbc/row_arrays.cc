#ifdef _WIN32
#include <windows.h>  // the ODBC headers take their types from it there
#endif

#include "dbengine/odbc/row_arrays.h"

#include <algorithm>
#include <cstring>

#include "dbengine/engine.h"

namespace sa::dbengine::odbc {

namespace {

// Rows asked for per fetch and per execution; drivers may take fewer.
constexpr SQLULEN kRowsPerCall = 256;
// Text buffers of fetched columns, in UTF-16 units: the column's size where
// the catalog gives one up to this, longer values read one by one.
constexpr size_t kDefaultTextUnits = 255;
constexpr size_t kMostTextUnits = 1024;

// Milliseconds of a timestamp's fraction (nanoseconds). A finer part rounds
// up, as dates read from text do, but never past the second: the day and the
// month a record belongs to do not change.
int FractionMs(SQLUINTEGER fraction) {
  int ms = static_cast<int>(fraction / 1000000);
  if (fraction % 1000000 != 0 && ms < 999) ++ms;
  return ms;
}

Value FromTimestamp(const SQL_TIMESTAMP_STRUCT& ts) {
  return DateTime::FromParts(CivilDate{ts.year, ts.month, ts.day}, ts.hour, ts.minute, ts.second,
                             FractionMs(ts.fraction));
}

bool IsWhole(FieldType type) {
  return type == FieldType::kBoolean || type == FieldType::kInteger || type == FieldType::kLong;
}

// Asks for `wanted` rows per call through `attribute`; returns what the
// driver took (1 when it takes no arrays).
SQLULEN ArraySize(SQLHSTMT stmt, SQLINTEGER attribute, SQLULEN wanted) {
  if (!SQL_SUCCEEDED(SQLSetStmtAttr(stmt, attribute, reinterpret_cast<SQLPOINTER>(wanted), 0))) {
    return 1;
  }
  SQLULEN size = 0;
  if (!SQL_SUCCEEDED(SQLGetStmtAttr(stmt, attribute, &size, 0, nullptr)) || size == 0) {
    SQLSetStmtAttr(stmt, attribute, reinterpret_cast<SQLPOINTER>(SQLULEN{1}), 0);
    return 1;
  }
  return std::min(size, wanted);
}

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

Value* RowBlock::Add(int64_t id) {
  ids_.push_back(id);
  values_.resize(values_.size() + width_);
  indexed_ = false;
  return values_.data() + (values_.size() - width_);
}

void RowBlock::Index() const {
  if (indexed_) return;
  index_.clear();
  index_.reserve(ids_.size());
  for (size_t r = 0; r < ids_.size(); ++r) index_.emplace_back(ids_[r], r);
  // An identity read twice keeps its first row.
  std::stable_sort(index_.begin(), index_.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  index_.erase(std::unique(index_.begin(), index_.end(),
                           [](const auto& a, const auto& b) { return a.first == b.first; }),
               index_.end());
  indexed_ = true;
}

const Value* RowBlock::Find(int64_t id) const {
  Index();
  const auto it =
      std::lower_bound(index_.begin(), index_.end(), id,
                       [](const auto& entry, int64_t key) { return entry.first < key; });
  if (it == index_.end() || it->first != id) return nullptr;
  return values_.data() + it->second * width_;
}

void RowBlock::Drop(int64_t id) {
  Index();
  const auto it =
      std::lower_bound(index_.begin(), index_.end(), id,
                       [](const auto& entry, int64_t key) { return entry.first < key; });
  if (it != index_.end() && it->first == id) {
    index_.erase(it);
    ++dropped_;
  }
}

bool RowBlock::Distinct() const {
  Index();
  return index_.size() + dropped_ == ids_.size();
}

void RowBlock::Clear(size_t width) {
  width_ = width;
  ids_.clear();
  values_.clear();
  index_.clear();
  indexed_ = true;
  dropped_ = 0;
}

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
    if (IsWhole(columns[c].type)) {
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
      if (IsWhole(col.type)) {
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
