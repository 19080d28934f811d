// The same archive run done with plain SQL through the sqlite3 C API: the
// least work that moves the same records into the same month archives, as a
// yardstick for the program.
#pragma once

#include <string>

#include "core/datetime.h"

namespace sa::bench {

struct PlainMoveResult {
  long moved = 0;  // records moved out of the live tables
  int months = 0;  // month runs (table and month pairs)
  int transactions = 0;
  int archives = 0;  // archives created
  double seconds = 0;
  double cpuSeconds = 0;  // user and system time of this process meanwhile
};

// Moves every dated record of the live database in `dataFolder`/live.db from
// 2000-01-01 up to `windowEnd` at midnight into `dataFolder`/S/yyyymm.mdb:
// per month present, one transaction over the attached archive holding, for
// each table with records in the month, INSERT ... SELECT and DELETE;
// archives missing are created with the program's own archive builder. Then
// copies the customer list into the newest month reached. Throws
// std::runtime_error or sa::Error on any failure.
PlainMoveResult MoveWithPlainSql(const std::string& dataFolder, const CivilDate& windowEnd);

// Records of the dated live tables still inside the window (from 2000-01-01
// up to `windowEnd` at midnight).
long RecordsLeftInWindow(const std::string& dbPath, const CivilDate& windowEnd);

}  // namespace sa::bench
