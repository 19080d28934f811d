#include "support/live_tables.h"

#include "archive/schema.h"
#include "dbengine/sqlite_format.h"
#include "support/sqlite_probe.h"

namespace sa::testing {

std::string LiveTableSql(const std::string& archiveTable) {
  for (const archive::TableSpec* layout : archive::ArchiveTables(true)) {
    if (layout->name != archiveTable) continue;
    const std::string table = archiveTable == "Cliente" ? "cliente" : archiveTable;
    std::string sql = "CREATE TABLE " + table + " (";
    for (const archive::FieldSpec& f : layout->fields) {
      std::string name = f.name;
      dbengine::FieldType type = f.type;
      int size = f.size;
      if (name == "d_fecha") name = "D_FECHA";
      if (name == "fecha" || name == "Fecha") name = "FECHA";
      if (table == "GTVacuno" && name == "FECHA") type = dbengine::FieldType::kDate, size = 0;
      sql += name + " " + dbengine::sqlite_format::DeclaredType(type, size) + ", ";
    }
    return sql + "sincronizado BOOLEAN)";
  }
  return {};
}

void CreateLiveTables(const std::string& path) {
  std::string sql;
  for (const archive::TableSpec* layout : archive::ArchiveTables(true))
    sql += LiveTableSql(layout->name) + ";";
  Exec(path, sql);
}

}  // namespace sa::testing
