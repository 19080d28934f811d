// SQLite's own check of a database's structure.
#pragma once

#include <string>
#include <vector>

#include "dbengine/sqlite/sqlite_handle.h"

namespace sa::dbengine::sqlite {

// What integrity_check finds wrong with the connection's database (ten
// lines at most); empty when it is sound. A check that cannot run is one
// line saying why.
std::vector<std::string> IntegrityProblems(const Connection& conn);

}  // namespace sa::dbengine::sqlite
