#ifdef _WIN32
#include <windows.h>  // the ODBC headers take their types from it there
#endif

#include "dbengine/odbc/row_reads.h"

#include <algorithm>
#include <iterator>

#include "dbengine/odbc/fetch_rows.h"
#include "dbengine/odbc/odbc_values.h"

namespace sa::dbengine::odbc {

void ReadBlock(Source& src, const TableInfo& info, const std::vector<Field>& columns,
               std::span<const int64_t> ids, RowBlock& rows, bool lock, const std::string& where) {
  rows.Clear(columns.size());
  rows.Values().reserve(ids.size() * columns.size());
  std::string list = info.identity;
  for (const Field& c : columns) {
    list += ", " + src.Family().ReadExpression(src.Family().QuoteName(c.name), c.type);
  }
  const std::string from =
      "SELECT " + list + " FROM " + src.Family().QuoteName(info.name) + " WHERE ";
  const std::string rest =
      (where.empty() ? "" : " AND (" + where + ")") + (lock ? " FOR UPDATE" : "");
  const std::string context = info.name + " in " + src.Shown();
  // Buffers for texts of characters of two UTF-16 units each, where the
  // driver cannot be trusted to say it cut one.
  std::vector<Field> fetched = columns;
  if (src.Family().MiscountsCutTexts()) {
    for (Field& c : fetched) c.size *= 2;
  }
  for (size_t first = 0; first < ids.size(); first += kIdsPerStatement) {
    const auto chunk = ids.subspan(first, std::min(kIdsPerStatement, ids.size() - first));
    std::vector<int64_t> longer;
    {
      auto stmt = src.NewStatement(context);
      stmt->ExecDirect(from + src.IdentityIn(info, chunk) + rest);
      longer = FetchRows(*stmt, fetched, rows);
    }
    for (const int64_t id : longer) {
      auto stmt = src.NewStatement(context);
      stmt->ExecDirect(from + src.IdentityIn(info, {&id, 1}) + rest);
      Value* out = rows.Find(id);
      if (!stmt->Fetch() || out == nullptr) {
        // Gone since: not read at all.
        rows.Drop(id);
        continue;
      }
      for (size_t i = 0; i < columns.size(); ++i) {
        out[i] = ReadValue(*stmt, static_cast<SQLUSMALLINT>(i + 2), columns[i].type);
      }
    }
  }
}

std::unordered_map<int64_t, std::vector<Value>> ReadRows(Source& src, const TableInfo& info,
                                                         const std::vector<Field>& columns,
                                                         std::span<const int64_t> ids, bool lock,
                                                         const std::string& where) {
  RowBlock block;
  ReadBlock(src, info, columns, ids, block, lock, where);
  std::unordered_map<int64_t, std::vector<Value>> rows;
  rows.reserve(block.Size());
  for (size_t r = 0; r < block.Size(); ++r) {
    Value* values = block.Find(block.Id(r));
    if (values == nullptr || rows.count(block.Id(r)) != 0) continue;
    rows.emplace(block.Id(r), std::vector<Value>(std::make_move_iterator(values),
                                                 std::make_move_iterator(values + block.Width())));
  }
  return rows;
}

}  // namespace sa::dbengine::odbc
