// Reads a live table's window the way a run needs it: its record count, its
// month runs with the identities of their records, the records whose date no
// window places, and whether the table can be moved at all.
#pragma once

#include <string>

#include "dbengine/engine.h"
#include "run/table_work.h"

namespace sa::run {

class TableReader {
 public:
  // `predict`: also read every record of a run expected to move and note why
  // the archive would refuse it (the dry run). `liveName` shows the live
  // database in messages.
  TableReader(dbengine::Database& live, bool livestockEnabled, std::string liveName, bool predict)
      : live_(live),
        livestockEnabled_(livestockEnabled),
        liveName_(std::move(liveName)),
        predict_(predict) {}

  // Reads `work`'s table; throws when it cannot be read. Tables are read in
  // their order: the customer list's run goes to the newest month read
  // before it.
  void Read(TableWork& work);

 private:
  bool CanName(TableWork& work, dbengine::Recordset& rs);
  void Months(TableWork& work, dbengine::Recordset& rs);
  void Customers(TableWork& work, dbengine::Recordset& rs);

  dbengine::Database& live_;
  bool livestockEnabled_;
  std::string liveName_;
  bool predict_;
  std::string newestMonth_;
};

}  // namespace sa::run
