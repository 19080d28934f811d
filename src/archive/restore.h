// Taking a month back: the records of a month archive move into the live
// tables again, each record exactly once across any crash. It is the move
// of archive.h in the other direction: where the live database and the
// archive commit as one, one transaction per table appends the records to
// the live table and deletes them from the archive; elsewhere the live table
// is committed first with the move recorded in the move journal, and the
// archive's copies are deleted next, or by the next launch after a crash,
// only where they equal their live copies.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "archive/archive.h"
#include "archive/move_journal.h"

namespace sa::archive {

// What became of one table's archived records.
struct TableRestore {
  std::string table;
  long restored = 0;             // records now live again
  long kept = 0;                 // records that stay in the archive
  std::optional<Error> failure;  // why they stay: a value or key the live table refuses
};

struct MonthRestore {
  std::string archivePath;
  std::vector<TableRestore> tables;  // the tables the archive holds, in the order asked
  bool archiveRemoved = false;       // it held nothing more but its customer list
  // Otherwise what it still holds: tables (the customer list aside) and
  // their records.
  std::vector<std::pair<std::string, long>> left;
};

// Moves every record of the archive of `monthKey` of the tables named (the
// customer list is never among them: the live database keeps its own) back
// into the live table of the same name, each table whole or not at all. A
// table the archive lacks is passed over. The archive file is removed when
// nothing but its customer list is left in it; otherwise it stays, and
// `left` says what it still holds. Throws when the archive is missing or
// cannot be opened.
MonthRestore RestoreMonth(const TransferContext& ctx, const std::string& monthKey,
                          std::span<const std::string> tables);

// Deletes from `archive` the records of `move` (a restore) that the live
// tables hold unchanged, then forgets the move.
void CompleteRestore(const TransferContext& ctx, dbengine::ArchiveLink& archive,
                     const PendingMove& move, const std::string& journal);

}  // namespace sa::archive
