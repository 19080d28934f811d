#include "dbengine/engine.h"

#include "dbengine/record_numbering.h"

#include <variant>

#include "core/error.h"

namespace sa::dbengine {

long Database::CountUndated(const std::string& table, const std::string& dateField) {
  const std::string& f = dateField;
  const std::unique_ptr<Recordset> rs =
      OpenRecordset("SELECT " + f + " FROM " + table + " WHERE " + f + " IS NULL OR " + f +
                    " < #1900-01-01# OR " + f + " > #9999-12-31#");
  long undated = 0;
  for (; !rs->Eof(); rs->MoveNext()) {
    const Value v = rs->GetValue(0);
    if (std::holds_alternative<DateTime>(v)) continue;
    const auto* text = std::get_if<std::string>(&v);
    if (text == nullptr || !DateTime::ParseIso(*text)) ++undated;
  }
  rs->Close();
  return undated;
}

RecordNumbering& NumberingOf(Database& db) {
  if (auto* numbering = dynamic_cast<RecordNumbering*>(&db)) return *numbering;
  throw Error(EngineError::kInvalidArgument, "The database does not tell how it numbers records.",
              db.Name());
}

}  // namespace sa::dbengine
