#include "odb/restore.h"

#include "odb/attachment.h"

namespace sa::odb {

namespace {

constexpr char kAlias[] = "arc";

// The identities of the table's archived records; nullopt when the archive
// has no such table.
std::optional<std::vector<int64_t>> ArchivedIds(const TransferContext& ctx,
                                                const std::string& table) {
  try {
    return ctx.live.AttachedRecordIds(kAlias, table);
  } catch (const Error& e) {
    if (e.Number() == dbengine::kErrTableNotFound) return std::nullopt;
    throw;
  }
}

// One table's records back into the live table, whole or not at all.
void RestoreTable(const TransferContext& ctx, const std::string& archivePath,
                  const std::vector<int64_t>& ids, TableRestore& out) {
  const std::string journal = MoveJournalPath(ctx.dataFolder);
  const bool atomic = ctx.live.AtomicAcrossAttached();
  PendingMove pending{archivePath, {}, true};
  try {
    ctx.live.BeginTrans();
    const dbengine::Database::Appended appended =
        ctx.live.AppendRecordsFrom(kAlias, out.table, ids);
    if (appended.count != static_cast<long>(ids.size()) || appended.ids.size() != ids.size()) {
      throw Error(dbengine::kErrInvalidArgument, "Not every archived record was appended.",
                  out.table + " in " + archivePath);
    }
    if (atomic) {
      ctx.live.DeleteAttachedRecords(kAlias, out.table, ids);
    } else {
      pending.tables.push_back({out.table, 0, ids, appended.ids});
      WriteMoveJournal(ctx.fs, journal, pending);
    }
    ctx.live.CommitTrans();
  } catch (const Error& e) {
    if (ctx.live.InTransaction()) ctx.live.Rollback();
    // A journal written before a commit that failed names copies that are
    // not there; completing it deletes nothing.
    if (!pending.tables.empty() && ctx.fs.Exists(journal)) {
      CompleteRestore(ctx, pending, kAlias, journal);
    }
    out.kept = static_cast<long>(ids.size());
    out.failure = e;
    return;
  }
  out.restored = static_cast<long>(ids.size());
  // The records are live; a failure to delete their archived copies stops
  // here with the journal kept, and the next launch completes the move.
  if (!pending.tables.empty()) CompleteRestore(ctx, pending, kAlias, journal);
}

}  // namespace

void CompleteRestore(const TransferContext& ctx, const PendingMove& move, const std::string& alias,
                     const std::string& journal) {
  FinishJournaled(ctx, journal, [&] {
    for (const TableMove& t : move.tables) {
      ctx.live.DeleteAttachedRecordsMatching(alias, t.table, t.keys, t.copyIds);
    }
  });
}

MonthRestore RestoreMonth(const TransferContext& ctx, const std::string& monthKey,
                          std::span<const std::string> tables) {
  MonthRestore out;
  out.archivePath = ArchivePath(ctx.dataFolder, monthKey);
  if (!ctx.fs.IsFile(out.archivePath)) {
    throw Error(dbengine::kErrFileNotFound, "No archive of that month.",
                out.archivePath + ": no such file");
  }
  bool empty = true;
  {
    Attachment archive(ctx.live, out.archivePath, kAlias);
    for (const std::string& table : tables) {
      const std::optional<std::vector<int64_t>> ids = ArchivedIds(ctx, table);
      if (!ids) continue;
      TableRestore& result = out.tables.emplace_back(TableRestore{table, 0, 0, {}});
      if (!ids->empty()) RestoreTable(ctx, out.archivePath, *ids, result);
      if (result.kept > 0) empty = false;
    }
    // Anything left means the archive still matters, whatever the reason.
    for (const std::string& table : tables) {
      const std::optional<std::vector<int64_t>> ids = ArchivedIds(ctx, table);
      if (ids && !ids->empty()) empty = false;
    }
  }
  if (empty) {
    ctx.fs.RemoveFile(out.archivePath);
    out.archiveRemoved = true;
  }
  return out;
}

}  // namespace sa::odb
