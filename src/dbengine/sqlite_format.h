// The conventions of a SQLite database file as this program writes it,
// whichever backend writes it: the built-in engine, or the SQLite3 ODBC
// driver in a build without it. They are the file format, so both backends
// take them from here.
#pragma once

#include <cstdint>
#include <string>

#include "dbengine/table_def.h"

namespace sa::dbengine::sqlite_format {

// The header's application id of a file this program made ("SARC").
inline constexpr int32_t kApplicationId = 0x53415243;

// The header's user version recording a new file's creation options.
constexpr int32_t UserVersion(int32_t languageId, int32_t options) {
  return (languageId << 16) | options;
}

// The declared column type of a field type (texts `size` long, the default
// size when none is given).
std::string DeclaredType(FieldType type, int size);

// A field's column as CREATE TABLE declares it: its type, and texts compared
// without regard to ASCII case, as the general sort order compares them.
std::string ColumnDeclaration(const Field& field);

}  // namespace sa::dbengine::sqlite_format
