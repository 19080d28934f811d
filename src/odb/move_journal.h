// The record of a month run between its two commits, for live databases
// whose journal mode cannot commit the live database and the archive as one
// (WAL). The archive is committed first with this record already on disk;
// the live records are deleted next, and the record removed. A launch that
// finds the record completes the deletion of what the archive holds, so each
// record ends in exactly one place.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace sa::odb {

struct PendingMove {
  std::string archivePath;
  std::string table;
  int64_t firstCopyId = 0;    // identity of the run's first record in the archive
  std::vector<int64_t> keys;  // the live records' bookmarks, in run order
};

// "S/move.journal" in the data folder.
std::string MoveJournalPath(const std::string& dataFolder);

void WriteMoveJournal(platform::FileSystem& fs, const std::string& path, const PendingMove& move);
// nullopt when there is no journal, or only one cut short before it was
// complete (then its archive commit had not happened either).
std::optional<PendingMove> ReadMoveJournal(platform::FileSystem& fs, const std::string& path);

}  // namespace sa::odb
