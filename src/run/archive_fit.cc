#include "run/archive_fit.h"

namespace sa::run {

std::optional<ArchiveFit> ArchiveFit::For(const std::string& table, const dbengine::Recordset& rs,
                                          bool livestockEnabled, const std::string& liveName) {
  for (const archive::TableSpec* layout : archive::ArchiveTables(livestockEnabled)) {
    if (dbengine::SameName(layout->name, table)) return ArchiveFit(*layout, rs, table, liveName);
  }
  return std::nullopt;
}

ArchiveFit::ArchiveFit(const archive::TableSpec& layout, const dbengine::Recordset& rs,
                       const std::string& table, const std::string& liveName) {
  for (const archive::FieldSpec& field : layout.fields) {
    try {
      fields_.push_back({rs.FieldIndex(field.name), &field, table + "." + field.name});
    } catch (const Error&) {
      missing_ = Error(
          dbengine::EngineError::kItemNotFound, "Item not found in this collection.",
          "field " + std::string(field.name) + " of table " + table + ", missing in " + liveName);
      return;
    }
  }
}

std::optional<Error> ArchiveFit::Refusal(dbengine::Recordset& rs) const {
  for (const Field& f : fields_) {
    try {
      dbengine::ConvertForField(rs.GetValue(f.index), f.layout->type, f.layout->size, f.name);
    } catch (const Error& e) {
      return e;
    }
  }
  return std::nullopt;
}

}  // namespace sa::run
