// Copies a shop's live tables from one database into another through the
// engine interface, so a generated shop can be served by any backend: a
// PostgreSQL live database reached by a connection string, or a SQLite file
// made from one for a census.
#pragma once

#include <set>
#include <string>

#include "dbengine/engine.h"

namespace sa::demo {

// Creates each table of `from` in `to` with the same fields (replacing a
// table of the same name) and copies its records, in one transaction.
// Tables named in `keyed` (any letter case) get an extra field "id", a
// whole-number primary key the server numbers (on PostgreSQL the last field,
// on MariaDB and MySQL the first); the others get no key.
void CopyTables(dbengine::Database& from, dbengine::Database& to,
                const std::set<std::string>& keyed = {});

// The statement that gives `table` of `db` that key, in the dialect of the
// database system `db` is on (PostgreSQL, or MariaDB/MySQL).
std::string AddKeySql(dbengine::Database& db, const std::string& table);

}  // namespace sa::demo
