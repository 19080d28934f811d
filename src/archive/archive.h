// The archive module: everything about the monthly archive databases. This
// header is its main one: the creation of a month archive and the move of a
// month's runs into it. Beside it: the archives' tables (schema.h,
// table_builders.h), the places they go (archive_place.h), the record of a
// move between its two commits (move_journal.h), taking a month back
// (restore.h) and the check of an archive (archive_check.h). The module
// works through the engine's interface only: a link to each archive, and
// the commit order the live database gives.
//
// A new archive is built under a temporary name in the archive folder and
// renamed into place only when every table is in it, so a month's name
// always holds a complete archive. A month run is appended whole or not at
// all, and the live records it copied are deleted by their identities, in
// the same commit or, where the live database commits after its archive,
// under a move journal; so every record is either still live or in its
// archive. Small months share a commit, each through a link to its archive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/error.h"
#include "dbengine/engine.h"
#include "platform/file_system.h"
#include "platform/message_sink.h"

namespace sa::archive {

// The temporary name a new archive is built under (it does not end in .mdb).
std::string PartialArchivePath(const std::string& archivePath);

// Creates the archive at `archivePath` with the general sort order, the
// version 4.0 options and its 8 tables (9 with livestock). A failing
// CreateDatabase passes its error on with no message; a failing table build
// removes the partial file, shows the engine's description through
// `messages` and then passes the error on, so the run stops there.
void CreateMonthArchive(dbengine::Engine& engine, platform::FileSystem& fs,
                        platform::MessageSink& messages, const std::string& archivePath,
                        bool livestockEnabled);

struct TransferContext {
  dbengine::Engine& engine;
  dbengine::Database& live;
  platform::FileSystem& fs;
  platform::MessageSink& messages;
  std::string dataFolder;
  bool livestockEnabled = false;
  // Records one commit carries at most, unless a single run holds more.
  size_t recordsPerCommit = 20000;
};

// Finishes a move or a restore recorded in `journal`: runs `deletions` in
// the live transaction (begun here when none is open), commits it, then
// removes the journal. A failure rolls the transaction back and passes on,
// the journal kept for the next launch to complete.
void FinishJournaled(const TransferContext& ctx, const std::string& journal,
                     const std::function<void()>& deletions);

struct TransferResult {
  int status = 0;                // 0: the run is in its archive; 1: nothing of it moved
  long moved = 0;                // records appended to the archive
  std::optional<Error> failure;  // why a run with status 1 stayed live
};

// One table's records of one month, named by their bookmarks in date order.
// Only those still meeting `condition` (the engine's SQL; empty: all) when
// the move happens are moved: a record another program has since re-dated,
// or whose identity a new record took, stays live.
struct MonthRun {
  std::string table;
  std::vector<int64_t> keys;
  std::string condition;
};

// The archive file of a month key: dataFolder/S/<key>.mdb.
std::string ArchivePath(const std::string& dataFolder, const std::string& monthKey);

// Why a move a crash interrupted could not be completed.
struct UnfinishedMove {
  std::string journal;  // the move journal, kept for the next launch
  std::string archive;  // the archive it names
  Error error;
};

// Completes a month run that a crash interrupted between its archive commit
// and the deletion of its live records (where the archive commits first),
// so that each of its records ends in exactly one place. Call it once the live
// database is open, before any run. When the archive cannot be read (or the
// deletion fails), nothing is deleted, the journal stays for a later launch
// and the failure is returned: no other move may run before it completes.
std::optional<UnfinishedMove> RecoverInterruptedMove(const TransferContext& ctx);

// How many of the leading months, holding `records` records each, share
// commits: months that together hold no more than ctx.recordsPerCommit
// records, as many archives as the live database links in one transaction
// at most; always the first month, alone when it holds more; one month alone
// where the archive commits before the live database.
size_t MonthsSharingCommits(const TransferContext& ctx, std::span<const size_t> records);

// One month's runs, for TransferMonths.
struct MonthWork {
  std::string monthKey;
  std::vector<MonthRun> runs;
};

// What TransferMonths did with the months it took.
struct MonthsTransfer {
  // For each month taken, in order, one result per run.
  std::vector<std::vector<TransferResult>> months;
  // Why the month after those taken could not be archived (its archive could
  // not be created or opened); nothing of it moved and the run stops there.
  std::optional<Error> stop;
};

// Moves the runs of the leading months of `months` that share commits (see
// MonthsSharingCommits) into their month archives, creating the archives
// when missing; a month of more than ctx.recordsPerCommit records commits as
// often as keeps each commit within that many. When an archive cannot be
// created or opened, only the months before it move, and `stop` says why.
// Each run is appended whole or not at all: a run that fails stays live
// whole and the others still move. For "cliente" (exactly that name) the
// archive's customer table is emptied first and the live records are kept;
// every other table's copied records are deleted from the live database in
// the same step. Throws when the live copies of runs already committed to
// the archive cannot be deleted (where the archive commits first: the move
// journal stays, and the next launch completes the move).
MonthsTransfer TransferMonths(const TransferContext& ctx, std::span<const MonthWork> months);

// TransferMonths for one month, throwing when its archive cannot be created
// or opened. Returns one result per run, in order.
std::vector<TransferResult> TransferMonth(const TransferContext& ctx, const std::string& monthKey,
                                          std::span<const MonthRun> runs);

}  // namespace sa::archive
