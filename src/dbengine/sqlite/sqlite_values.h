// Values between SQLite and the engine: a column's declared type read as a
// field type, a stored value read as a field's value, and a value bound to a
// statement.
#pragma once

#include <sqlite3.h>

#include <string>

#include "dbengine/value.h"

namespace sa::dbengine::sqlite {

// Reads a declared type, including those of tables this program did not make
// (by SQLite's affinity rules where the name is not one of ours); `size` gets
// the text length, kDefaultTextSize when none is declared.
FieldType FieldTypeOfDeclared(const std::string& declared, int& size);

// Reads a SQLite value as a value of a field of `type`: booleans as 0 or 1,
// whole numbers of double fields as doubles, date texts of date fields as
// dates; everything else as it is stored.
Value FromSqlite(sqlite3_value* value, FieldType type);
// Reads column `i` of the current row as a value of a field of `type`.
Value ColumnValue(sqlite3_stmt* stmt, int i, FieldType type);
// Binds a value converted for its field.
void BindValue(sqlite3_stmt* stmt, int i, const Value& v);

}  // namespace sa::dbengine::sqlite
