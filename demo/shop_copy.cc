#include "shop_copy.h"

#include "dbengine/table_def.h"
#include "var/error.h"

namespace sa::demo {

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
      if (isKeyed) {
        to.Execute("ALTER TABLE " + def.Name() +
                   " ADD COLUMN id integer GENERATED ALWAYS AS IDENTITY PRIMARY KEY");
      }
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
