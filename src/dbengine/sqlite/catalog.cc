#include "dbengine/sqlite/catalog.h"

#include "core/error.h"
#include "dbengine/engine.h"
#include "dbengine/sqlite/dialect.h"
#include "dbengine/sqlite/sqlite_values.h"

namespace sa::dbengine::sqlite {

std::string RealTableName(const Connection& conn, const std::string& schema,
                          const std::string& table, const std::string& where) {
  Statement stmt = conn.Prepare("SELECT name FROM " + QuoteName(schema) +
                                ".sqlite_schema WHERE type='table' AND name=?1 COLLATE NOCASE");
  sqlite3_bind_text(stmt.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  const int rc = sqlite3_step(stmt.get());
  if (rc == SQLITE_ROW) return reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 0));
  if (rc != SQLITE_DONE) conn.Fail(rc, where);
  throw Error(EngineError::kTableNotFound, "Cannot find the input table or query.",
              "table " + table + " in " + where);
}

std::vector<Field> TableFields(const Connection& conn, const std::string& schema,
                               const std::string& table, const std::string& where) {
  Statement stmt = conn.Prepare("SELECT name, type FROM pragma_table_info(?1, ?2)");
  sqlite3_bind_text(stmt.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(stmt.get(), 2, schema.c_str(), -1, SQLITE_TRANSIENT);
  std::vector<Field> fields;
  int rc;
  while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
    Field f;
    f.name = reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 0));
    const auto* decl = reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 1));
    f.type = FieldTypeOfDeclared(decl != nullptr ? decl : "", f.size);
    fields.push_back(std::move(f));
  }
  if (rc != SQLITE_DONE) conn.Fail(rc, where);
  return fields;
}

std::vector<std::string> TableNames(const Connection& conn) {
  std::vector<std::string> names;
  Statement stmt = conn.Prepare(
      "SELECT name FROM sqlite_schema WHERE type='table' AND name NOT LIKE 'sqlite!_%' "
      "ESCAPE '!' ORDER BY rowid");
  while (sqlite3_step(stmt.get()) == SQLITE_ROW) {
    const auto* n = reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 0));
    names.emplace_back(n != nullptr ? n : "");
  }
  return names;
}

const Field* FindField(const std::vector<Field>& fields, std::string_view name) {
  for (const Field& f : fields) {
    if (SameName(f.name, name)) return &f;
  }
  return nullptr;
}

}  // namespace sa::dbengine::sqlite
