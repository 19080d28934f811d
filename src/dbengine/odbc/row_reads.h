// Records of a table read by their identities, many identities per
// statement and many rows per driver call: the reads of the moves, the record
// sets and the comparisons with copies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "dbengine/odbc/catalog.h"
#include "dbengine/odbc/row_block.h"

namespace sa::dbengine::odbc {

// Identities named in one statement at most.
inline constexpr size_t kIdsPerStatement = 500;

// Reads the rows of `info` named by `ids` (any order), `columns` of them, in
// the order the database answers: many rows per driver call, a row whose
// text outgrows its column's buffer again on its own, value by value.
// Only those meeting `where` when it is given; locked until the transaction
// ends with `lock`. `rows` is emptied first; its storage serves again.
void ReadBlock(Source& src, const TableInfo& info, const std::vector<Field>& columns,
               std::span<const int64_t> ids, RowBlock& rows, bool lock = false,
               const std::string& where = "");

// The same rows by identity, each with its own values.
std::unordered_map<int64_t, std::vector<Value>> ReadRows(Source& src, const TableInfo& info,
                                                         const std::vector<Field>& columns,
                                                         std::span<const int64_t> ids,
                                                         bool lock = false,
                                                         const std::string& where = "");

}  // namespace sa::dbengine::odbc
