// The live tables a run walks, in their fixed order, and the SQL texts it
// sends for them: each table's window query and the bounds a month's records
// must still be within when they move.
#pragma once

#include <string>
#include <vector>

#include "core/datetime.h"

namespace sa::run {

// The window starts on 1 January 2000.
inline constexpr CivilDate kWindowStart{2000, 1, 1};
// The customer list: copied whole, never trimmed.
inline constexpr char kCustomers[] = "cliente";

// One entry of the table list: its position (which the progress bar shows),
// the table, and its date field (empty for the customer table).
struct TableEntry {
  int index;
  const char* table;
  const char* dateField;
  bool Customers() const { return dateField[0] == '\0'; }
};

// The tables in processing order: 8, or 9 with the livestock totals.
std::vector<TableEntry> TableList(bool livestockEnabled);

// The SELECT text of a table for the window [from, to], dates at midnight.
std::string RunQuery(const TableEntry& entry, const CivilDate& from, const CivilDate& to);

// The bounds the records of a table's run of `month` (yyyymm) must still be
// within when they move: the month's, cut to the window [from, to].
std::string RunCondition(const TableEntry& entry, const std::string& month, const CivilDate& from,
                         const CivilDate& to);

// The last day of the window: today, or today less the retention days.
CivilDate WindowEnd(const CivilDate& today, bool upToToday, int retentionDays);

}  // namespace sa::run
