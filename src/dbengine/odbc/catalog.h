// The live connection of the ODBC backend with its driver family and its
// catalog: the tables and their fields as the driver's catalog functions
// describe them, matched without regard to case, and how each table's
// records are named (a whole-number primary key, else the family's row
// identity). Shared by a database, its record sets and its archive links.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "dbengine/odbc/driver_family.h"
#include "dbengine/odbc/odbc_handle.h"
#include "dbengine/table_def.h"

namespace sa::dbengine::odbc {

// A table as the catalog describes it.
struct TableInfo {
  std::string name;  // as the database spells it
  std::vector<Field> columns;
  std::string identity;  // whole-number identity expression, "" when none
  bool keyed = false;    // identity is the primary key
};

// Column `column` of a catalog function's current row, as text or number
// ("" or 0 when NULL or unreadable).
std::string CatalogText(SQLHSTMT stmt, SQLUSMALLINT column);
int64_t CatalogInt(SQLHSTMT stmt, SQLUSMALLINT column);

class Source {
 public:
  Source(std::unique_ptr<Connection> conn, std::unique_ptr<DriverFamily> family,
         const Waits& waits);

  Connection& Conn() { return *conn_; }
  const DriverFamily& Family() const { return *family_; }
  const std::string& Shown() const { return shown_; }
  bool Open() const { return conn_ != nullptr; }
  // Frees the statements record sets keep before the connection goes, as
  // the driver manager frees them with it.
  void Close();

  std::unique_ptr<Statement> NewStatement(const std::string& context);
  // A statement kept across calls (a prepared INSERT), freed by Close.
  std::shared_ptr<Statement> NewKeptStatement(const std::string& context);

  // The tables' names as the database spells them, by lower-cased name.
  const std::map<std::string, std::string>& Tables();

  void Forget();

  // The table named `table` in any letter case; throws EngineError::kTableNotFound.
  const TableInfo& Table(const std::string& table) { return *TablePtr(table); }
  std::shared_ptr<const TableInfo> TablePtr(const std::string& table);

  // Throws EngineError::kNoIdentity when the table's records cannot be named.
  const TableInfo& IdentifiedTable(const std::string& table);

  // The condition naming the records of `info` whose identities are `ids`.
  std::string IdentityIn(const TableInfo& info, std::span<const int64_t> ids) const;

 private:
  SQLWCHAR* Schema() { return schema_.empty() ? nullptr : schema_.data(); }
  SQLSMALLINT SchemaLength() const { return static_cast<SQLSMALLINT>(schema_.size()); }
  SQLWCHAR* Catalog() { return catalog_.empty() ? nullptr : catalog_.data(); }
  SQLSMALLINT CatalogLength() const { return static_cast<SQLSMALLINT>(catalog_.size()); }

  std::unique_ptr<Connection> conn_;
  std::unique_ptr<DriverFamily> family_;
  std::string shown_;
  std::vector<std::weak_ptr<Statement>> kept_;
  WideString schema_;
  WideString catalog_;
  std::optional<std::map<std::string, std::string>> tables_;
  std::unordered_map<std::string, std::shared_ptr<const TableInfo>> infos_;
};

}  // namespace sa::dbengine::odbc
