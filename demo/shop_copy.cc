#include "shop_copy.h"

#include <cctype>

#include "core/error.h"
#include "dbengine/table_def.h"

namespace sa::demo {

std::string AddKeySql(dbengine::Database& db, const std::string& table) {
  std::string version;
  {
    auto rs = db.OpenRecordset("SELECT version()");
    if (!rs->Eof()) version = dbengine::ValueToText(rs->GetValue(0));
    rs->Close();
  }
  const std::string lower = dbengine::LowerAscii(version);
  if (lower.find("mariadb") != std::string::npos || lower.find("mysql") != std::string::npos ||
      (!lower.empty() && std::isdigit(static_cast<unsigned char>(lower[0])) != 0)) {
    return "ALTER TABLE " + table +
           " ADD COLUMN id INTEGER NOT NULL AUTO_INCREMENT PRIMARY KEY FIRST";
  }
  return "ALTER TABLE " + table + " ADD COLUMN id integer GENERATED ALWAYS AS IDENTITY PRIMARY KEY";
}

void CopyTables(dbengine::Database& from, dbengine::Database& to,
                const std::set<std::string>& keyed) {
  std::set<std::string> existing;
  for (const dbengine::TableDef& def : to.TableDefs())
    existing.insert(dbengine::LowerAscii(def.Name()));
  to.BeginTrans();
  try {
    for (const dbengine::TableDef& def : from.TableDefs()) {
      const std::string lower = dbengine::LowerAscii(def.Name());
      if (existing.count(lower)) to.Execute("DROP TABLE " + def.Name());
      to.AppendTableDef(def);
      bool isKeyed = false;
      for (const std::string& k : keyed) isKeyed = isKeyed || dbengine::SameName(k, def.Name());
      if (isKeyed) to.Execute(AddKeySql(to, def.Name()));
      auto in = from.OpenRecordset("SELECT * FROM " + def.Name());
      auto out = to.OpenRecordset("SELECT * FROM " + def.Name() + " WHERE 1 = 0");
      for (; !in->Eof(); in->MoveNext()) {
        out->AddNew();
        for (int i = 0; i < in->FieldCount(); ++i) out->SetValue(in->FieldName(i), in->GetValue(i));
        out->Update();
      }
      in->Close();
      out->Close();
    }
    to.CommitTrans();
  } catch (...) {
    if (to.InTransaction()) to.Rollback();
    throw;
  }
}

}  // namespace sa::demo
