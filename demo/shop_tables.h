// The sample shop's live tables as the host lays them out, and the writer of
// their rows. Each live table is the twin of an archive table: the same
// fields in the same order and types, the date fields named in upper case
// (the livestock date a real date), the customer table called `cliente`, and
// two bookkeeping fields of the host's own at the end.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/schema.h"
#include "dbengine/sqlite/sqlite_handle.h"

namespace sa::demo {

struct LiveColumn {
  std::string name;
  std::string declared;
};

struct LiveTable {
  std::string name;
  std::vector<LiveColumn> columns;
};

// Quotes an identifier for SQLite.
std::string QuoteName(std::string_view name);

// The live twin of an archive table.
LiveTable LiveTwin(const archive::TableSpec& layout);
// Its CREATE TABLE statement.
std::string CreateSql(const LiveTable& t);
// The live twins of every archive table, livestock included.
std::vector<LiveTable> LiveTables();

// Inserts rows into one live table through one prepared statement. Values
// are given in column order, each naming its column, so a row that drifts
// from the table's layout fails loudly instead of filling the wrong field.
class Inserter {
 public:
  Inserter(const dbengine::sqlite::Connection& conn, const LiveTable& table);

  Inserter& Null(const char* field);
  Inserter& Int(const char* field, int64_t v);
  Inserter& Bool(const char* field, bool v) { return Int(field, v ? 1 : 0); }
  Inserter& Real(const char* field, double v);
  Inserter& Text(const char* field, std::string_view v);
  // NULL for an absent text.
  Inserter& OptText(const char* field, const std::optional<std::string>& v) {
    return v ? Text(field, *v) : Null(field);
  }
  // Writes the row; throws unless every field was given.
  void Insert();

 private:
  int Slot(const char* field);

  const dbengine::sqlite::Connection& conn_;
  const LiveTable& table_;
  std::string context_;  // names the table in an error
  dbengine::sqlite::Statement stmt_;
  std::vector<const char*> checked_;
  size_t next_ = 0;
};

}  // namespace sa::demo
