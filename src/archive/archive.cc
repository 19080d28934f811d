#include "archive/archive.h"

#include <deque>
#include <utility>
#include <vector>

#include "archive/archive_place.h"
#include "archive/attachment.h"
#include "archive/move_journal.h"
#include "archive/restore.h"
#include "archive/table_builders.h"

namespace sa::archive {

namespace {

constexpr char kAlias[] = "arc";

// Deletes from the live database the records of `move` that the archive
// holds unchanged, then forgets the move. A record changed by another program
// since it was copied stays live.
void CompleteMove(const TransferContext& ctx, const PendingMove& move, const std::string& journal) {
  FinishJournaled(ctx, journal, [&] {
    for (const TableMove& t : move.tables) {
      ctx.live.DeleteRecordsMatching(kAlias, t.table, t.keys, t.firstCopyId);
    }
  });
}

TransferResult Refused(const Error& e) { return TransferResult{1, 0, e}; }

// A month run on its way into the archive attached as `alias` (at `path`).
struct BatchRun {
  const MonthRun* run;
  const std::string* alias;
  const std::string* path;
  TransferResult* result;
};

// Moves `runs` into their attached archives in one transaction, with a step
// per run, and writes each run's outcome to its result.
void MoveBatch(const TransferContext& ctx, std::span<const BatchRun> runs) {
  const std::string journal = MoveJournalPath(ctx.dataFolder);
  // Live databases whose commit cannot span both files (WAL) commit the
  // archive first, with the moves recorded beforehand, so that a crash before
  // the deletion is completed at the next launch instead of leaving copies.
  // Such a batch holds runs of one month only.
  PendingMove pending{*runs.front().path, {}};
  bool inPlace = false;
  try {
    const bool atomic = ctx.live.AtomicAcrossAttached();
    // A live database on a connection of its own commits after its
    // archives: each run's live records are deleted first, in its
    // transaction, as they were read, and only those are copied; a record
    // another program changed meanwhile is neither deleted nor copied.
    const bool takeFirst = !atomic && ctx.live.CommitsAttachedFirst();
    ctx.live.BeginTrans();
    for (const BatchRun& b : runs) {
      const MonthRun& run = *b.run;
      const std::string& alias = *b.alias;
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
        std::span<const int64_t> keys = run.condition.empty() ? run.keys : current;
        std::vector<int64_t> taken;
        if (!customers && takeFirst) {
          taken = ctx.live.DeleteRecordsAsRead(run.table, keys);
          keys = taken;
        }
        const int64_t firstCopy = deferred ? ctx.live.LastRecordId(alias, run.table) + 1 : 0;
        if (customers) ctx.live.Execute("delete from " + alias + ".cliente");
        b.result->moved = ctx.live.AppendRecordsTo(alias, run.table, keys);
        if (!customers && atomic) ctx.live.DeleteRecords(run.table, keys);
        ctx.live.ReleaseSavepoint();
        if (deferred) pending.tables.push_back({run.table, firstCopy, {keys.begin(), keys.end()}});
      } catch (const Error& e) {
        *b.result = Refused(e);
        // Without its transaction the batch's earlier runs are undone too.
        if (!ctx.live.RollbackToSavepoint()) throw;
      }
    }
    if (!pending.tables.empty()) {
      WriteMoveJournal(ctx.fs, journal, pending);
      // The archives commit alone: a failure up to here moved nothing.
      inPlace = takeFirst && ctx.live.CommitAttachedFirst();
    }
    if (!inPlace) ctx.live.CommitTrans();
  } catch (const Error& e) {
    if (ctx.live.InTransaction()) ctx.live.Rollback();
    for (const BatchRun& b : runs) {
      if (b.result->status == 0) *b.result = Refused(e);
    }
    return;
  }
  // The runs are in the archive; a failure to delete their live copies stops
  // the run with the journal kept, and the next launch completes the move.
  if (inPlace) {
    // The live deletions made before the copies commit now.
    FinishJournaled(ctx, journal, [] {});
  } else if (!pending.tables.empty()) {
    CompleteMove(ctx, pending, journal);
  }
}

size_t Records(const MonthWork& month) {
  size_t n = 0;
  for (const MonthRun& run : month.runs) n += run.keys.size();
  return n;
}

}  // namespace

void FinishJournaled(const TransferContext& ctx, const std::string& journal,
                     const std::function<void()>& deletions) {
  if (!ctx.live.InTransaction()) ctx.live.BeginTrans();
  try {
    deletions();
    ctx.live.CommitTrans();
  } catch (...) {
    ctx.live.Rollback();
    throw;
  }
  ctx.fs.RemoveFile(journal);
}

std::string PartialArchivePath(const std::string& archivePath) { return archivePath + ".partial"; }

// The move journal names one archive, so WAL live databases take one month
// at a time.
size_t MonthsSharingCommits(const TransferContext& ctx, std::span<const size_t> records) {
  if (records.empty()) return 0;
  if (!ctx.live.AtomicAcrossAttached()) return 1;
  size_t taken = 1;
  size_t total = records[0];
  while (taken < records.size() && taken < kArchivesPerCommit &&
         total + records[taken] <= ctx.recordsPerCommit) {
    total += records[taken++];
  }
  return taken;
}

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

std::optional<UnfinishedMove> RecoverInterruptedMove(const TransferContext& ctx) {
  const std::string journal = MoveJournalPath(ctx.dataFolder);
  std::optional<PendingMove> move = ReadMoveJournal(ctx.fs, journal);
  try {
    if (move && ctx.fs.IsFile(move->archivePath)) {
      Attachment archive(ctx.live, move->archivePath, kAlias);
      if (move->restore) {
        CompleteRestore(ctx, *move, kAlias, journal);
        return std::nullopt;
      }
      // The archive commit is atomic: either every run is there or none.
      std::erase_if(move->tables, [&](const TableMove& t) {
        return ctx.live.LastRecordId(kAlias, t.table) < t.firstCopyId;
      });
      if (!move->tables.empty()) {
        CompleteMove(ctx, *move, journal);
        return std::nullopt;
      }
    }
    // No archive under that name (never made, or removed by hand): its
    // records were never deleted and move again with their month.
    if (ctx.fs.Exists(journal)) ctx.fs.RemoveFile(journal);
  } catch (const Error& e) {
    return UnfinishedMove{journal, move ? move->archivePath : std::string(), e};
  }
  return std::nullopt;
}

MonthsTransfer TransferMonths(const TransferContext& ctx, std::span<const MonthWork> months) {
  MonthsTransfer out;
  std::vector<size_t> records;
  for (const MonthWork& month : months) records.push_back(Records(month));
  months = months.first(MonthsSharingCommits(ctx, records));
  std::deque<std::string> paths, aliases;
  std::deque<Attachment> archives;
  for (const MonthWork& month : months) {
    const std::string& path = paths.emplace_back(ArchivePath(ctx.dataFolder, month.monthKey));
    const std::string& alias =
        aliases.emplace_back(archives.empty() ? kAlias : kAlias + std::to_string(archives.size()));
    try {
      if (!ctx.fs.IsFile(path)) {
        if (auto problem = ArchivePlaceProblem(ctx.fs, ctx.dataFolder, month.monthKey)) {
          throw *problem;
        }
        CreateMonthArchive(ctx.engine, ctx.fs, ctx.messages, path, ctx.livestockEnabled);
      }
      archives.emplace_back(ctx.live, path, alias);
    } catch (const Error& e) {
      // The months before this one still move; the run stops here.
      out.stop = e;
      months = months.first(archives.size());
      break;
    }
  }

  std::vector<BatchRun> runs;
  out.months.resize(months.size());
  for (size_t m = 0; m < months.size(); ++m) {
    out.months[m].resize(months[m].runs.size());
    for (size_t i = 0; i < months[m].runs.size(); ++i) {
      runs.push_back({&months[m].runs[i], &aliases[m], &paths[m], &out.months[m][i]});
    }
  }
  // Runs share a commit while they hold few records together; a big month
  // commits more often, so that no commit keeps other programs from writing
  // the live database for long. A run is never split.
  for (size_t first = 0; first < runs.size();) {
    size_t end = first;
    size_t records = 0;
    do {
      records += runs[end++].run->keys.size();
    } while (end < runs.size() && records + runs[end].run->keys.size() <= ctx.recordsPerCommit);
    MoveBatch(ctx, std::span(runs).subspan(first, end - first));
    first = end;
  }
  return out;
}

std::vector<TransferResult> TransferMonth(const TransferContext& ctx, const std::string& monthKey,
                                          std::span<const MonthRun> runs) {
  const MonthWork month{monthKey, {runs.begin(), runs.end()}};
  MonthsTransfer out = TransferMonths(ctx, {&month, 1});
  if (out.stop) throw *out.stop;
  return std::move(out.months.front());
}

}  // namespace sa::archive
