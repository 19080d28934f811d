// The catalog of a connection: its tables and their fields as stored, found
// without regard to case, in the database itself (schema "main") or in an
// archive attached to it under a schema name of its own. `where` names the
// file in errors.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "dbengine/sqlite/sqlite_handle.h"
#include "dbengine/table_def.h"

namespace sa::dbengine::sqlite {

// The table's name as stored; throws EngineError::kTableNotFound when there
// is none.
std::string RealTableName(const Connection& conn, const std::string& schema,
                          const std::string& table, const std::string& where);

// The table's fields in their order, each with the field type its declared
// type reads as.
std::vector<Field> TableFields(const Connection& conn, const std::string& schema,
                               const std::string& table, const std::string& where);

// The names of the database's own tables, in creation order.
std::vector<std::string> TableNames(const Connection& conn);

// The field of that name (letter case ignored), or nullptr.
const Field* FindField(const std::vector<Field>& fields, std::string_view name);

}  // namespace sa::dbengine::sqlite
