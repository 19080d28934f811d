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

// Deletes from the live database the records of `move` that the archive
// holds unchanged, then forgets the move. A record changed by another program
// since it was copied stays live.
void CompleteMove(const TransferContext& ctx, const PendingMove& move, const std::string& journal) {
  ctx.live.BeginTrans();
  try {
    for (const TableMove& t : move.tables) {
      ctx.live.DeleteRecordsMatching(kAlias, t.table, t.keys, t.firstCopyId);
    }
    ctx.live.CommitTrans();
  } catch (...) {
    ctx.live.Rollback();
    throw;
  }
  ctx.fs.RemoveFile(journal);
}

TransferResult Refused(const Error& e) { return TransferResult{1, 0, e}; }

// Moves `runs` into the attached archive at `path` in one transaction, with
// a step per run, and writes each run's outcome to `results`.
void MoveBatch(const TransferContext& ctx, const std::string& path, std::span<const MonthRun> runs,
               std::span<TransferResult> results) {
  const std::string journal = MoveJournalPath(ctx.dataFolder);
  // Live databases whose commit cannot span both files (WAL) commit the
  // archive first, with the moves recorded beforehand, so that a crash before
  // the deletion is completed at the next launch instead of leaving copies.
  PendingMove pending{path, {}};
  try {
    const bool atomic = ctx.live.AtomicAcrossAttached();
    ctx.live.BeginTrans();
    for (size_t i = 0; i < runs.size(); ++i) {
      const MonthRun& run = runs[i];
      ctx.live.Savepoint();
      try {
        const bool customers = run.table == "cliente";
        const bool deferred = !customers && !atomic;
        // The transaction holds the live write lock: what meets the
        // condition now is what is copied and deleted.
        std::vector<int64_t> current;
        if (!run.condition.empty()) {
          current = ctx.live.RecordsWhere(run.table, run.keys, run.condition);
        }
        const std::span<const int64_t> keys = run.condition.empty() ? run.keys : current;
        const int64_t firstCopy = deferred ? ctx.live.LastRecordId(kAlias, run.table) + 1 : 0;
        if (customers) ctx.live.Execute(std::string("delete from ") + kAlias + ".cliente");
        results[i].moved = ctx.live.AppendRecordsTo(kAlias, run.table, keys);
        if (!customers && atomic) ctx.live.DeleteRecords(run.table, keys);
        ctx.live.ReleaseSavepoint();
        if (deferred) pending.tables.push_back({run.table, firstCopy, {keys.begin(), keys.end()}});
      } catch (const Error& e) {
        results[i] = Refused(e);
        // Without its transaction the batch's earlier runs are undone too.
        if (!ctx.live.RollbackToSavepoint()) throw;
      }
    }
    if (!pending.tables.empty()) WriteMoveJournal(ctx.fs, journal, pending);
    ctx.live.CommitTrans();
  } catch (const Error& e) {
    if (ctx.live.InTransaction()) ctx.live.Rollback();
    for (TransferResult& r : results) {
      if (r.status == 0) r = Refused(e);
    }
    return;
  }
  // The runs are in the archive; a failure to delete their live copies stops
  // the run with the journal kept, and the next launch completes the move.
  if (!pending.tables.empty()) CompleteMove(ctx, pending, journal);
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
    db.reset();  // closes without the sync that Close does
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
  std::optional<PendingMove> move = ReadMoveJournal(ctx.fs, journal);
  if (move && ctx.fs.IsFile(move->archivePath)) {
    Attachment archive(ctx.live, move->archivePath);
    // The archive commit is atomic: either every run is there or none.
    std::erase_if(move->tables, [&](const TableMove& t) {
      return ctx.live.LastRecordId(kAlias, t.table) < t.firstCopyId;
    });
    if (!move->tables.empty()) {
      CompleteMove(ctx, *move, journal);
      return;
    }
  }
  if (ctx.fs.Exists(journal)) ctx.fs.RemoveFile(journal);
}

std::vector<TransferResult> TransferMonth(const TransferContext& ctx, const std::string& monthKey,
                                          std::span<const MonthRun> runs) {
  const std::string path = ArchivePath(ctx.dataFolder, monthKey);
  if (!ctx.fs.IsFile(path)) {
    CreateMonthArchive(ctx.engine, ctx.fs, ctx.messages, path, ctx.livestockEnabled);
  }
  Attachment archive(ctx.live, path);

  // A month's runs share a commit while they hold few records together; a
  // big month commits more often, so that no commit keeps other programs
  // from writing the live database for long. A run is never split.
  std::vector<TransferResult> results(runs.size());
  for (size_t first = 0; first < runs.size();) {
    size_t end = first;
    size_t records = 0;
    do {
      records += runs[end++].keys.size();
    } while (end < runs.size() && records + runs[end].keys.size() <= ctx.recordsPerCommit);
    MoveBatch(ctx, path, runs.subspan(first, end - first),
              std::span(results).subspan(first, end - first));
    first = end;
  }
  return results;
}

}  // namespace sa::odb
