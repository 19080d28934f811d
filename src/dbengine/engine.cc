#include "dbengine/engine.h"

#include <variant>

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

}  // namespace sa::dbengine
