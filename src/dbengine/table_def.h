// Table definitions as the schema builders make them: a name and fields in
// creation order. Built in memory, then appended to a database in one step,
// so a definition that fails half way never reaches the file.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dbengine/value.h"

namespace sa::dbengine {

// A field of a table, or a column of a record set or a statement: the one
// description of a column every backend uses.
struct Field {
  std::string name;  // as the database spells it
  FieldType type = FieldType::kText;
  int size = 0;  // characters for text fields; kept but unused for fixed-width types
  bool allowZeroLength = false;
};

class FieldList {
 public:
  // Refuses a name the list already holds (in any letter case).
  void Append(Field field);
  int Count() const { return static_cast<int>(fields_.size()); }
  // Throws sa::Error 3265 when `index` is out of range.
  Field& Item(int index);
  const Field& Item(int index) const;
  // nullptr when no field has that name (letter case ignored).
  const Field* Find(std::string_view name) const;

  auto begin() const { return fields_.begin(); }
  auto end() const { return fields_.end(); }

 private:
  std::vector<Field> fields_;
};

class TableDef {
 public:
  explicit TableDef(std::string name) : name_(std::move(name)) {}
  const std::string& Name() const { return name_; }

  // A new field, not yet appended. A size is accepted for every type; text
  // fields without one get kDefaultTextSize. Throws on an empty name, an
  // unknown type or a size outside 1..255 for text.
  Field CreateField(std::string name, FieldType type, std::optional<int> size = {}) const;

  FieldList& Fields() { return fields_; }
  const FieldList& Fields() const { return fields_; }

 private:
  std::string name_;
  FieldList fields_;
};

// ASCII case-insensitive equality, as table and field names compare.
bool SameName(std::string_view a, std::string_view b);
// The text with ASCII letters in lower case: the key a name is found by.
std::string LowerAscii(std::string_view s);

}  // namespace sa::dbengine
