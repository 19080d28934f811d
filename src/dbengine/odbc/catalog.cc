#ifdef _WIN32
#include <windows.h>  // the ODBC headers take their types from it there
#endif

#include "dbengine/odbc/catalog.h"

#include <algorithm>

#include "core/error.h"
#include "dbengine/engine.h"

namespace sa::dbengine::odbc {

std::string CatalogText(SQLHSTMT stmt, SQLUSMALLINT column) {
  SQLWCHAR buffer[512];
  SQLLEN length = 0;
  const SQLRETURN rc = SQLGetData(stmt, column, SQL_C_WCHAR, buffer, sizeof buffer, &length);
  if (!SQL_SUCCEEDED(rc) || length == SQL_NULL_DATA) return "";
  const size_t n = std::min<size_t>(static_cast<size_t>(length) / sizeof(SQLWCHAR), 511);
  return Narrow(buffer, n);
}

int64_t CatalogInt(SQLHSTMT stmt, SQLUSMALLINT column) {
  SQLBIGINT v = 0;
  SQLLEN length = 0;
  const SQLRETURN rc = SQLGetData(stmt, column, SQL_C_SBIGINT, &v, 0, &length);
  if (!SQL_SUCCEEDED(rc) || length == SQL_NULL_DATA) return 0;
  return v;
}

// The live connection, its family and its catalog, shared by the database
// and its record sets.

Source::Source(std::unique_ptr<Connection> conn, std::unique_ptr<DriverFamily> family,
               const Waits& waits)
    : conn_(std::move(conn)), family_(std::move(family)), shown_(conn_->Shown()) {
  for (const std::string& sql : family_->SessionStatements(waits)) conn_->ExecDirect(sql);
  const auto ask = [&](const std::string& query) {
    if (query.empty()) return WideString();
    auto stmt = NewStatement(Shown());
    stmt->ExecDirect(query);
    return stmt->Fetch() ? Widen(CatalogText(stmt->get(), 1)) : WideString();
  };
  schema_ = ask(family_->CurrentSchemaQuery());
  catalog_ = ask(family_->CurrentCatalogQuery());
}

// Frees the statements record sets keep before the connection goes, as
// the driver manager frees them with it.
void Source::Close() {
  for (const auto& kept : kept_) {
    if (const auto stmt = kept.lock()) stmt->Free();
  }
  kept_.clear();
  conn_.reset();
}

std::unique_ptr<Statement> Source::NewStatement(const std::string& context) {
  if (!conn_) throw Error(EngineError::kInvalidArgument, "The database is closed.", context);
  return std::make_unique<Statement>(*conn_, context);
}

// A statement kept across calls (a prepared INSERT), freed by Close.
std::shared_ptr<Statement> Source::NewKeptStatement(const std::string& context) {
  std::shared_ptr<Statement> stmt = NewStatement(context);
  std::erase_if(kept_, [](const std::weak_ptr<Statement>& w) { return w.expired(); });
  kept_.push_back(stmt);
  return stmt;
}

// The tables' names as the database spells them, by lower-cased name.
const std::map<std::string, std::string>& Source::Tables() {
  if (!tables_) {
    std::map<std::string, std::string> names;
    auto stmt = NewStatement(Shown());
    WideString type = Widen("TABLE");
    stmt->Check(stmt->Run([&] {
      return SQLTablesW(stmt->get(), Catalog(), CatalogLength(), Schema(), SchemaLength(), nullptr,
                        0, type.data(), static_cast<SQLSMALLINT>(type.size()));
    }));
    while (stmt->Fetch()) {
      const std::string name = CatalogText(stmt->get(), 3);
      names.emplace(LowerAscii(name), name);
    }
    tables_ = std::move(names);
  }
  return *tables_;
}

void Source::Forget() {
  tables_.reset();
  infos_.clear();
}

std::shared_ptr<const TableInfo> Source::TablePtr(const std::string& table) {
  const std::string key = LowerAscii(table);
  if (auto it = infos_.find(key); it != infos_.end()) return it->second;
  const auto& names = Tables();
  const auto found = names.find(key);
  if (found == names.end()) {
    throw Error(EngineError::kTableNotFound, "Cannot find the input table or query.",
                table + " in " + Shown());
  }
  TableInfo info;
  info.name = found->second;
  WideString name = Widen(info.name);
  {
    auto stmt = NewStatement(table + " in " + Shown());
    stmt->Check(stmt->Run([&] {
      return SQLColumnsW(stmt->get(), Catalog(), CatalogLength(), Schema(), SchemaLength(),
                         name.data(), static_cast<SQLSMALLINT>(name.size()), nullptr, 0);
    }));
    while (stmt->Fetch()) {
      Field c;
      c.name = CatalogText(stmt->get(), 4);
      const auto type = family_->FieldTypeOf(static_cast<int>(CatalogInt(stmt->get(), 5)),
                                             CatalogText(stmt->get(), 6));
      c.type = type.value_or(FieldType::kText);
      c.size = static_cast<int>(CatalogInt(stmt->get(), 7));
      info.columns.push_back(std::move(c));
    }
  }
  if (const std::string query = family_->BooleanColumnsQuery(info.name); !query.empty()) {
    auto stmt = NewStatement(table + " in " + Shown());
    stmt->ExecDirect(query);
    while (stmt->Fetch()) {
      const std::string name = CatalogText(stmt->get(), 1);
      for (Field& c : info.columns) {
        if (c.name == name) c.type = FieldType::kBoolean;
      }
    }
  }
  std::vector<std::string> keys;
  {
    auto stmt = NewStatement(table + " in " + Shown());
    const SQLRETURN rc = stmt->Run([&] {
      return SQLPrimaryKeysW(stmt->get(), Catalog(), CatalogLength(), Schema(), SchemaLength(),
                             name.data(), static_cast<SQLSMALLINT>(name.size()));
    });
    if (SQL_SUCCEEDED(rc)) {
      while (stmt->Fetch()) keys.push_back(CatalogText(stmt->get(), 4));
    }
  }
  if (keys.size() == 1) {
    for (const Field& c : info.columns) {
      if (c.name == keys[0] && (c.type == FieldType::kLong || c.type == FieldType::kInteger)) {
        info.identity = family_->QuoteName(c.name);
        info.keyed = true;
      }
    }
  }
  if (info.identity.empty() && !family_->RowIdentity().empty()) {
    // A table may lack its family's row identity (SQLite's WITHOUT ROWID):
    // then it has none.
    try {
      auto stmt = NewStatement(table + " in " + Shown());
      stmt->ExecDirect("SELECT " + family_->RowIdentity() + " FROM " +
                       family_->QuoteName(info.name) + " WHERE 1 = 0");
      info.identity = family_->RowIdentity();
    } catch (const Error&) {
    }
  }
  return infos_.emplace(key, std::make_shared<const TableInfo>(std::move(info))).first->second;
}

// Throws EngineError::kNoIdentity when the table's records cannot be named.
const TableInfo& Source::IdentifiedTable(const std::string& table) {
  const TableInfo& info = Table(table);
  if (info.identity.empty()) {
    throw Error(EngineError::kNoIdentity,
                "The table has no primary key or row identity to move by.",
                info.name + " in " + Shown() +
                    ": give it a whole-number primary key; its records stay live");
  }
  return info;
}

// The condition naming the records of `info` whose identities are `ids`.
std::string Source::IdentityIn(const TableInfo& info, std::span<const int64_t> ids) const {
  return info.keyed ? family_->KeyIn(info.identity, ids) : family_->RowIdentityIn(ids);
}

}  // namespace sa::dbengine::odbc
