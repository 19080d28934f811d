// The record of a month's runs between their two commits, for live databases
// that commit their archives first (dbengine::CommitOrder). The archive is
// committed first with this record already on disk; the live records are
// deleted next, and the record removed. A launch that finds the record
// completes the deletion of what the archive holds, so each record ends in
// exactly one place.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace sa::archive {

// One table's records copied into the archive.
struct TableMove {
  std::string table;
  int64_t firstCopyId = 0;    // identity of the first copy in the archive
  std::vector<int64_t> keys;  // the live records' bookmarks, in copy order
  // A restore's copies: the identity each archived record (`keys`, in the
  // same order) got in the live table. A live database names new records as
  // it likes (a tuple identity, a key), so they are listed, not counted.
  std::vector<int64_t> copyIds = {};
};

// A month's runs committed to their archive together; or, for a restore,
// an archive's records committed to the live tables (then `keys` name the
// archived records and `copyIds` their live copies, and the archive's
// records are deleted next).
struct PendingMove {
  std::string archivePath;
  std::vector<TableMove> tables;
  bool restore = false;
};

// "S/move.journal" in the data folder.
std::string MoveJournalPath(const std::string& dataFolder);

// A restore's identities are written as stretches of consecutive numbers
// ("archived 1..281", "live 8193..8473"), one per line; a move's one per line.
void WriteMoveJournal(platform::FileSystem& fs, const std::string& path, const PendingMove& move);
// nullopt when there is no journal, or only one cut short before it was
// complete (then its archive commit had not happened either). A restore
// journal of the earlier form (the first copy's identity and a count) is
// read with its copies' identities counted from the first.
std::optional<PendingMove> ReadMoveJournal(platform::FileSystem& fs, const std::string& path);

}  // namespace sa::archive
