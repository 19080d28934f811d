// What a run knows of each table while it goes: the month runs read from it,
// whether each reached its archive and, if not, why; and where the run
// stopped. Shared by the reading, the moves, the log and the bar.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/error.h"
#include "dbengine/identity_stretches.h"
#include "run/table_list.h"

namespace sa::run {

// Where a run stopped: at a table it could not read, or at a table's month
// whose archive could not be made or opened.
struct Halt {
  std::string table;
  std::string month;  // empty for a table
  Error error;
  std::string Place() const { return month.empty() ? table : table + ", " + month; }
};

// A table's records of one month and whether they reached their archive.
struct MonthRunState {
  std::string month;
  dbengine::IdentityStretches keys;
  long count = 0;
  bool moved = false;
  std::optional<Error> why;    // why it stayed live, when it was refused
  const Halt* halt = nullptr;  // the stop that kept the run from reaching it
};

// One table's part of the run: its query, what it read and its month runs
// (the customer list: one run, to the newest month reached before it).
struct TableWork {
  const TableEntry* entry = nullptr;
  std::string query;
  std::vector<MonthRunState> runs;
  long records = 0;
  long undated = 0;              // records no window places
  bool whole = false;            // every record of the window was read into runs
  bool reached = true;           // the run went on to move it
  std::optional<Error> refused;  // a table the run cannot move at all
  std::optional<Error> unread;   // cannot be read, after the run had stopped
  bool customers() const { return entry->Customers(); }
  bool Moves() const { return reached && whole && !refused; }
};

}  // namespace sa::run
