// The ODBC backend's check of a database: the family's own check where its
// database system has one reachable through SQL (SQLite's integrity_check),
// else every table opened and each of its records read, every value as its
// field's type.
#pragma once

#include <string>
#include <vector>

#include "dbengine/odbc/catalog.h"

namespace sa::dbengine::odbc {

// What the check finds wrong (ten lines at most); empty when the database is
// sound.
std::vector<std::string> IntegrityProblems(Source& src);

}  // namespace sa::dbengine::odbc
