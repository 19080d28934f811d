// INSERTs executed over arrays of bound parameters (SQL_ATTR_PARAMSET_SIZE),
// with the values kept flat, one row after another. A driver that takes
// smaller arrays, or none, gets the size it accepts, down to one row per
// execution.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "dbengine/odbc/odbc_handle.h"
#include "dbengine/table_def.h"
#include "dbengine/value.h"

namespace sa::dbengine::odbc {

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
