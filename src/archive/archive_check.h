// The soundness check of a month archive: it opens; it holds, by name, the
// tables a new archive of its kind gets (8, or 9 with the livestock totals)
// and no other, each with exactly its fields, in order, name, type and text
// size; the engine's own integrity check passes; every value is one its
// field can hold; and every record's date lies in the archive's month. Reads
// only.
#pragma once

#include <string>
#include <vector>

#include "dbengine/engine.h"

namespace sa::archive {

struct ArchiveCheck {
  int tables = 0;                     // tables found
  long records = 0;                   // records of its dated tables
  std::vector<std::string> problems;  // empty when the archive is sound
};

// Checks the archive at `path` of month `monthKey` (yyyymm).
ArchiveCheck CheckArchive(dbengine::Engine& engine, const std::string& path,
                          const std::string& monthKey);

}  // namespace sa::archive
