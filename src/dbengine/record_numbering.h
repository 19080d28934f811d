// How a database numbers the records appended to its tables, for a backend
// whose archives are databases of another engine: the ODBC backend reaches
// its archives through the archive engine's databases, and must know the
// identities its copies get there. Both backends' databases offer it; it is
// not part of the engine's interface.
#pragma once

#include <cstdint>
#include <string>

#include "dbengine/engine.h"

namespace sa::dbengine {

class RecordNumbering {
 public:
  // The identity of the last record of `table`, 0 when it is empty: records
  // appended later get the identities that follow, in order. A table whose
  // records have no identity gives its number of records, and its records
  // are numbered by position.
  virtual int64_t LastRecordId(const std::string& table) = 0;

 protected:
  ~RecordNumbering() = default;
};

// The numbering of `db`; throws EngineError::kInvalidArgument for a database
// of an engine that offers none.
RecordNumbering& NumberingOf(Database& db);

}  // namespace sa::dbengine
