// The engine's SQL functions, registered on every connection of the
// backend: dao_datecmp (a stored value against a date literal, by calendar
// date and time), dao_isstored (a date already in the stored form),
// dao_convert (a value converted for a field, or the engine's error) and
// dao_same (a value, converted for a field, against its copy). The dialect
// and the set statements of the moves are written with them.
#pragma once

#include <sqlite3.h>

namespace sa::dbengine::sqlite {

void RegisterFunctions(sqlite3* db);

}  // namespace sa::dbengine::sqlite
