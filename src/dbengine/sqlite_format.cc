#include "dbengine/sqlite_format.h"

#include "dbengine/value.h"

namespace sa::dbengine::sqlite_format {

std::string DeclaredType(FieldType type, int size) {
  switch (type) {
    case FieldType::kBoolean:
      return "BOOLEAN";
    case FieldType::kInteger:
      return "SMALLINT";
    case FieldType::kLong:
      return "INTEGER";
    case FieldType::kDouble:
      return "DOUBLE";
    case FieldType::kDate:
      return "DATETIME";
    case FieldType::kText:
      break;
  }
  return "VARCHAR(" + std::to_string(size > 0 ? size : kDefaultTextSize) + ")";
}

std::string ColumnDeclaration(const Field& field) {
  const std::string type = DeclaredType(field.type, field.size);
  return field.type == FieldType::kText ? type + " COLLATE NOCASE" : type;
}

}  // namespace sa::dbengine::sqlite_format
