// Many rows per driver call, both ways: result sets fetched into bound
// column arrays (SQL_ATTR_ROW_ARRAY_SIZE) and INSERTs executed over arrays of
// bound parameters (SQL_ATTR_PARAMSET_SIZE), with the values kept flat, one
// row after another. A driver that takes smaller arrays, or none, gets the
// size it accepts, down to one row per call.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "dbengine/odbc/odbc_handle.h"
#include "dbengine/table_def.h"
#include "dbengine/value.h"

namespace sa::dbengine::odbc {

// A date as the driver's timestamp, to the millisecond.
SQL_TIMESTAMP_STRUCT ToTimestamp(const DateTime& value);

// Reads column `column` of the current row as the engine's value of `type`,
// value by value (SQLGetData): texts of any length.
Value ReadValue(const Statement& stmt, SQLUSMALLINT column, FieldType type);

// Rows of one table by identity, their values flat: row r holds
// values[r * width] to values[r * width + width - 1].
class RowBlock {
 public:
  RowBlock() = default;
  explicit RowBlock(size_t width) : width_(width) {}

  size_t Width() const { return width_; }
  size_t Size() const { return ids_.size(); }
  int64_t Id(size_t row) const { return ids_[row]; }
  std::span<const int64_t> Ids() const { return ids_; }
  const std::vector<Value>& Values() const { return values_; }
  std::vector<Value>& Values() { return values_; }

  // Appends a row of Width() values, all null, and returns its first value.
  Value* Add(int64_t id);
  // The first value of the row of identity `id`; nullptr when there is none
  // or it was dropped.
  const Value* Find(int64_t id) const;
  Value* Find(int64_t id) {
    return const_cast<Value*>(static_cast<const RowBlock&>(*this).Find(id));
  }
  // Makes Find forget the row of identity `id`.
  void Drop(int64_t id);
  // No row was dropped.
  bool Whole() const { return dropped_ == 0; }
  // No identity was read twice.
  bool Distinct() const;
  // Empties the block for rows of `width` values, keeping its storage.
  void Clear(size_t width);

 private:
  void Index() const;

  size_t width_ = 0;
  std::vector<int64_t> ids_;
  std::vector<Value> values_;
  // (identity, row) sorted by identity, built when first searched.
  mutable std::vector<std::pair<int64_t, size_t>> index_;
  mutable bool indexed_ = true;
  size_t dropped_ = 0;
};

// Fetches an executed statement whose first result column is a whole-number
// identity and whose next ones are `columns`, many rows per call, into
// `rows`. A text longer than its column's buffer
// is not taken from the arrays: its row is added without it and its
// identity returned, for the caller to read that row value by value. A row
// the driver cannot convert fails the fetch with the driver's error. The
// statement is used up: freed when the fetch ends.
std::vector<int64_t> FetchRows(Statement& stmt, std::span<const Field> columns, RowBlock& rows);

// Inserts rows through a prepared INSERT whose parameters are `columns` in
// their order, with values already converted for them (null where absent),
// as many rows per execution as the driver takes. With `datesAsText` a date
// goes as its stored text, for files that keep dates as texts.
class ParameterArrays {
 public:
  ParameterArrays(Statement& insert, std::span<const Field> columns, bool datesAsText);
  // Leaves the statement without the arrays' parameters.
  ~ParameterArrays();
  ParameterArrays(const ParameterArrays&) = delete;
  ParameterArrays& operator=(const ParameterArrays&) = delete;
  // Executes the insert for `values` (a whole number of rows); throws the
  // driver's error when any row fails.
  void Insert(std::span<const Value> values);

 private:
  void Execute(std::span<const Value> values, size_t rows);

  Statement& insert_;
  std::vector<Field> columns_;
  bool datesAsText_;
  size_t arraySize_ = 1;
  std::vector<SQLUSMALLINT> status_;
  SQLULEN processed_ = 0;
  // Per column: its buffer and indicators, arraySize_ rows of them.
  std::vector<std::vector<char>> buffers_;
  std::vector<std::vector<SQLLEN>> lengths_;
};

}  // namespace sa::dbengine::odbc
