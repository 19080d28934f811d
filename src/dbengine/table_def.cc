#include "dbengine/table_def.h"

#include "core/error.h"
#include "dbengine/engine.h"

namespace sa::dbengine {

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::string LowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

void FieldList::Append(Field field) {
  if (Find(field.name) != nullptr) {
    throw Error(EngineError::kInvalidArgument, "Field '" + field.name + "' already exists.",
                field.name);
  }
  fields_.push_back(std::move(field));
}

Field& FieldList::Item(int index) {
  if (index < 0 || index >= Count()) {
    throw Error(EngineError::kItemNotFound, "Item not found in this collection.",
                "field index " + std::to_string(index));
  }
  return fields_[static_cast<size_t>(index)];
}

const Field& FieldList::Item(int index) const { return const_cast<FieldList*>(this)->Item(index); }

const Field* FieldList::Find(std::string_view name) const {
  for (const Field& f : fields_) {
    if (SameName(f.name, name)) return &f;
  }
  return nullptr;
}

Field TableDef::CreateField(std::string name, FieldType type, std::optional<int> size) const {
  if (name.empty()) throw Error(EngineError::kInvalidArgument, "Invalid field name.", name_);
  switch (type) {
    case FieldType::kBoolean:
    case FieldType::kInteger:
    case FieldType::kLong:
    case FieldType::kDouble:
    case FieldType::kDate:
    case FieldType::kText:
      break;
    default:
      throw Error(EngineError::kInvalidArgument, "Invalid field data type.", name_ + "." + name);
  }
  if (type == FieldType::kText && size && (*size < 1 || *size > kDefaultTextSize)) {
    throw Error(EngineError::kInvalidArgument, "Invalid field size.", name_ + "." + name);
  }
  Field f;
  f.name = std::move(name);
  f.type = type;
  f.size = size.value_or(type == FieldType::kText ? kDefaultTextSize : 0);
  return f;
}

}  // namespace sa::dbengine
