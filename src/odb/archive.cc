#include "odb/archive.h"

#include <vector>

#include "odb/move_journal.h"
#include "odb/table_builders.h"

namespace sa::odb {

namespace {

constexpr char kAlias[] = "arc";

// Detaches the archive on every path out of a transfer.
class Attachment {
 public:
  Attachment(dbengine::Database& live, const std::string& path) : live_(live) {
    live_.Attach(path, kAlias);
  }
  ~Attachment() {
    try {
      if (live_.InTransaction()) live_.Rollback();
      live_.Detach(kAlias);
    } catch (const Error&) {
      // The connection closes with the live database; nothing is lost by
      // leaving the archive attached until then.
    }
  }
  Attachment(const Attachment&) = delete;
  Attachment& operator=(const Attachment&) = delete;

 private:
  dbengine::Database& live_;
};

// The bookmarks of positions first..last, leaving the cursor after last.
std::vector<int64_t> RunBookmarks(dbengine::Recordset& source, long first, long last) {
  std::vector<int64_t> keys;
  if (last >= first) keys.reserve(static_cast<size_t>(last - first + 1));
  source.MoveFirst();
  source.Move(first);
  for (long pos = first; pos <= last; ++pos) {
    keys.push_back(source.Bookmark());
    source.MoveNext();
  }
  return keys;
}

// Deletes from the live database the records of `move` that the archive
// holds unchanged, then forgets the move. A record changed by another program
// since it was copied stays live.
void CompleteMove(const TransferContext& ctx, const PendingMove& move, const std::string& journal) {
  ctx.live.BeginTrans();
  try {
    ctx.live.DeleteRecordsMatching(kAlias, move.table, move.keys, move.firstCopyId);
    ctx.live.CommitTrans();
  } catch (...) {
    ctx.live.Rollback();
    throw;
  }
  ctx.fs.RemoveFile(journal);
}

}  // namespace

std::string PartialArchivePath(const std::string& archivePath) { return archivePath + ".partial"; }

std::string ArchivePath(const std::string& dataFolder, const std::string& monthKey) {
  return platform::JoinPath(platform::JoinPath(dataFolder, "S"), monthKey + ".mdb");
}

void CreateMonthArchive(dbengine::Engine& engine, platform::FileSystem& fs,
                        platform::MessageSink& messages, const std::string& archivePath,
                        bool livestockEnabled) {
  const std::string partial = PartialArchivePath(archivePath);
  // A build cut short by a crash leaves its partial file; start afresh.
  if (fs.Exists(partial)) fs.RemoveFile(partial);
  std::unique_ptr<dbengine::Database> db =
      engine.CreateDatabase(partial, dbengine::kLangGeneral, dbengine::kVersion40);
  try {
    // One commit for the whole schema: the file is not under its month's
    // name until it is complete, so the build needs no finer steps.
    db->BeginTrans();
    CreateTicketHeaderTable(*db);
    CreateTicketLineTable(*db);
    CreateSectionVendorArticleTables(*db);
    CreateVendorSummaryTable(*db);
    CreateHourlyTotalsTable(*db);
    if (livestockEnabled) CreateLivestockTotalsTable(*db);
    CreateCustomerTable(*db);
    db->CommitTrans();
    db->Close();
  } catch (const Error& e) {
    db->Close();
    try {
      fs.RemoveFile(partial);
    } catch (const Error&) {
      // The partial name is never taken for an archive; the next build
      // removes it before starting.
    }
    messages.ShowCritical(e.Description(),
                          e.Cause().empty() ? archivePath : archivePath + "\n" + e.Cause());
    throw;
  }
  fs.RenameFile(partial, archivePath);
}

void RecoverInterruptedMove(const TransferContext& ctx) {
  const std::string journal = MoveJournalPath(ctx.dataFolder);
  const std::optional<PendingMove> move = ReadMoveJournal(ctx.fs, journal);
  if (move && ctx.fs.IsFile(move->archivePath)) {
    Attachment archive(ctx.live, move->archivePath);
    // The archive commit is atomic: either the whole run is there or none.
    if (ctx.live.LastRecordId(kAlias, move->table) >= move->firstCopyId) {
      CompleteMove(ctx, *move, journal);
      return;
    }
  }
  if (ctx.fs.Exists(journal)) ctx.fs.RemoveFile(journal);
}

TransferResult TransferMonth(const TransferContext& ctx, const std::string& monthKey,
                             const std::string& tableName, dbengine::Recordset& source,
                             long firstIndex, long lastIndex) {
  const std::string path = ArchivePath(ctx.dataFolder, monthKey);
  if (!ctx.fs.IsFile(path)) {
    CreateMonthArchive(ctx.engine, ctx.fs, ctx.messages, path, ctx.livestockEnabled);
  }
  Attachment archive(ctx.live, path);

  TransferResult result;
  const bool customers = tableName == "cliente";
  const std::string journal = MoveJournalPath(ctx.dataFolder);
  std::optional<PendingMove> committed;
  try {
    const std::vector<int64_t> keys = RunBookmarks(source, firstIndex, lastIndex);
    ctx.live.BeginTrans();
    if (customers) {
      ctx.live.Execute(std::string("delete from ") + kAlias + ".cliente");
      result.moved = ctx.live.AppendRecordsTo(kAlias, tableName, keys);
      ctx.live.CommitTrans();
    } else if (ctx.live.AtomicAcrossAttached()) {
      result.moved = ctx.live.AppendRecordsTo(kAlias, tableName, keys);
      ctx.live.DeleteRecords(tableName, keys);
      ctx.live.CommitTrans();
    } else {
      // No commit spans both files: the archive is committed first, with the
      // move recorded beforehand so that a crash before the deletion is
      // completed at the next launch instead of leaving copies behind.
      PendingMove move{path, tableName, ctx.live.LastRecordId(kAlias, tableName) + 1, keys};
      result.moved = ctx.live.AppendRecordsTo(kAlias, tableName, keys);
      WriteMoveJournal(ctx.fs, journal, move);
      ctx.live.CommitTrans();
      committed = std::move(move);
    }
  } catch (const Error& e) {
    if (ctx.live.InTransaction()) ctx.live.Rollback();
    result.status = 1;
    result.moved = 0;
    result.failure = e;
  }
  // The run is in the archive; a failure to delete its live copies stops the
  // run with the journal kept, and the next launch completes the move.
  if (committed) CompleteMove(ctx, *committed, journal);
  return result;
}

}  // namespace sa::odb
