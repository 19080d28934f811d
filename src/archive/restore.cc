#include "archive/restore.h"

#include <memory>

#include "dbengine/transaction_guard.h"

namespace sa::archive {

namespace {

// The identities of the table's archived records; nullopt when the archive
// has no such table.
std::optional<std::vector<int64_t>> ArchivedIds(dbengine::ArchiveLink& archive,
                                                const std::string& table) {
  try {
    return archive.ArchivedIds(table);
  } catch (const Error& e) {
    if (e.Number() == dbengine::EngineError::kTableNotFound) return std::nullopt;
    throw;
  }
}

// One table's records back into the live table, whole or not at all.
void RestoreTable(const TransferContext& ctx, dbengine::ArchiveLink& archive,
                  const std::vector<int64_t>& ids, TableRestore& out) {
  const std::string journal = MoveJournalPath(ctx.dataFolder);
  // Where the two sides cannot commit as one, the live side commits first
  // here: the transaction writes nothing to the archive.
  const bool together = ctx.live.ArchiveCommitOrder() == dbengine::CommitOrder::kTogether;
  PendingMove pending{archive.Path(), {}, true};
  try {
    ctx.live.BeginTrans();
    dbengine::TransactionGuard transaction(ctx.live);
    const dbengine::IdentityStretches copies = archive.CopyBack(out.table, ids);
    if (copies.size() != ids.size()) {
      throw Error(dbengine::EngineError::kInvalidArgument,
                  "Not every archived record was appended.", out.table + " in " + archive.Path());
    }
    if (together) {
      archive.DeleteArchived(out.table, ids);
    } else {
      pending.tables.push_back({out.table, 0, ids, copies.Expand()});
      WriteMoveJournal(ctx.fs, journal, pending);
    }
    transaction.Commit();
  } catch (const Error& e) {
    // A journal written before a commit that failed names copies that are
    // not there; completing it deletes nothing.
    if (!pending.tables.empty() && ctx.fs.Exists(journal)) {
      CompleteRestore(ctx, archive, pending, journal);
    }
    out.kept = static_cast<long>(ids.size());
    out.failure = e;
    return;
  }
  out.restored = static_cast<long>(ids.size());
  // The records are live, committed: their archived copies go whatever
  // another program has done to the live ones since. A failure here stops
  // the restore with the journal kept, and the next launch completes the
  // move (comparing the copies, as it cannot know the live commit happened).
  if (!pending.tables.empty()) {
    FinishJournaled(ctx, journal, [&] { archive.DeleteArchived(out.table, ids); });
  }
}

// The tables of the archive at `path`, the customer list aside, that still
// hold records, with their counts.
std::vector<std::pair<std::string, long>> WhatIsLeft(const TransferContext& ctx,
                                                     const std::string& path) {
  std::vector<std::pair<std::string, long>> left;
  std::unique_ptr<dbengine::Database> archive = ctx.engine.OpenDatabase(path);
  for (const dbengine::TableDef& def : archive->TableDefs()) {
    if (dbengine::SameName(def.Name(), "cliente")) continue;
    auto rs = archive->OpenRecordset("SELECT * FROM " + def.Name());
    if (!rs->Eof()) {
      rs->MoveLast();
      left.emplace_back(def.Name(), rs->RecordCount());
    }
    rs->Close();
  }
  archive->Close();
  return left;
}

}  // namespace

void CompleteRestore(const TransferContext& ctx, dbengine::ArchiveLink& archive,
                     const PendingMove& move, const std::string& journal) {
  FinishJournaled(ctx, journal, [&] {
    for (const TableMove& t : move.tables) archive.DeleteArchivedCopied(t.table, t.keys, t.copyIds);
  });
}

MonthRestore RestoreMonth(const TransferContext& ctx, const std::string& monthKey,
                          std::span<const std::string> tables) {
  MonthRestore out;
  out.archivePath = ArchivePath(ctx.dataFolder, monthKey);
  if (!ctx.fs.IsFile(out.archivePath)) {
    throw Error(dbengine::EngineError::kFileNotFound, "No archive of that month.",
                out.archivePath + ": no such file");
  }
  {
    const std::unique_ptr<dbengine::ArchiveLink> archive = ctx.live.LinkArchive(out.archivePath);
    for (const std::string& table : tables) {
      const std::optional<std::vector<int64_t>> ids = ArchivedIds(*archive, table);
      if (!ids) continue;
      TableRestore& result = out.tables.emplace_back(TableRestore{table, 0, 0, {}});
      if (!ids->empty()) RestoreTable(ctx, *archive, *ids, result);
    }
  }
  // Anything left but the customer list means the archive still matters,
  // whatever the reason: records refused, a table the restore does not
  // take back, a table no archive is made with.
  out.left = WhatIsLeft(ctx, out.archivePath);
  if (out.left.empty()) {
    ctx.fs.RemoveFile(out.archivePath);
    out.archiveRemoved = true;
  }
  return out;
}

}  // namespace sa::archive
