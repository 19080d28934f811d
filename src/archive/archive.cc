#include "archive/archive.h"

#include <algorithm>
#include <memory>
#include <numeric>
#include <utility>
#include <vector>

#include "archive/archive_place.h"
#include "archive/move_journal.h"
#include "archive/restore.h"
#include "archive/table_builders.h"
#include "dbengine/transaction_guard.h"

namespace sa::archive {

namespace {

// The identities a move's copies got: consecutive from the first.
std::vector<int64_t> CopyIds(const TableMove& t) {
  std::vector<int64_t> ids(t.keys.size());
  std::iota(ids.begin(), ids.end(), t.firstCopyId);
  return ids;
}

// Deletes from the live database the records of `move` that `archive` holds
// unchanged, then forgets the move. A record changed by another program since
// it was copied stays live, and so does one whose copy the archive does not
// hold (its commit never happened).
void CompleteMove(const TransferContext& ctx, dbengine::ArchiveLink& archive,
                  const PendingMove& move, const std::string& journal) {
  FinishJournaled(ctx, journal, [&] {
    for (const TableMove& t : move.tables) archive.DeleteLiveCopied(t.table, t.keys, CopyIds(t));
  });
}

TransferResult Refused(const Error& e) { return TransferResult{1, 0, e}; }

// A month run on its way into the archive of its month.
struct BatchRun {
  const MonthRun* run;
  dbengine::ArchiveLink* archive;
  TransferResult* result;
};

// The first identity of copies numbered one after another, as the move
// journal records them.
int64_t FirstCopy(const dbengine::IdentityStretches& copies, size_t records,
                  const std::string& context) {
  if (copies.size() != records || copies.Stretches().size() > 1) {
    throw Error(dbengine::EngineError::kInvalidArgument,
                "The copies did not get consecutive identities.", context);
  }
  return copies.empty() ? 0 : copies.Stretches().front().first;
}

// Moves `runs` into their archives in one transaction, with a step per run,
// and writes each run's outcome to its result.
void MoveBatch(const TransferContext& ctx, std::span<const BatchRun> runs) {
  const std::string journal = MoveJournalPath(ctx.dataFolder);
  // Where the archive commits first, the moves are recorded before its
  // commit, so that a crash before the live deletion is completed at the
  // next launch instead of leaving copies. Such a batch holds runs of one
  // month only.
  PendingMove pending{runs.front().archive->Path(), {}};
  bool archiveCommitted = false;
  try {
    const dbengine::CommitOrder order = ctx.live.ArchiveCommitOrder();
    const bool together = order == dbengine::CommitOrder::kTogether;
    // Where the live records stay held until the live commit, which follows
    // the archive's, each run's live records are deleted first, in its
    // transaction, as they were read, and only those are copied; a record
    // another program changed meanwhile is neither deleted nor copied.
    const bool takeFirst = order == dbengine::CommitOrder::kArchiveFirstLiveHeld;
    ctx.live.BeginTrans();
    dbengine::TransactionGuard transaction(ctx.live);
    for (const BatchRun& b : runs) {
      const MonthRun& run = *b.run;
      ctx.live.Savepoint();
      try {
        const bool customers = run.table == "cliente";
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
        if (customers) {
          b.result->moved = b.archive->ReplaceTable(run.table, keys);
        } else {
          const dbengine::IdentityStretches copies = b.archive->CopyOut(run.table, keys);
          b.result->moved = static_cast<long>(copies.size());
          if (together) {
            ctx.live.DeleteRecords(run.table, keys);
          } else {
            pending.tables.push_back(
                {run.table,
                 FirstCopy(copies, keys.size(), run.table + " into " + pending.archivePath),
                 {keys.begin(), keys.end()}});
          }
        }
        ctx.live.ReleaseSavepoint();
      } catch (const Error& e) {
        *b.result = Refused(e);
        // Without its transaction the batch's earlier runs are undone too.
        if (!ctx.live.RollbackToSavepoint()) throw;
      }
    }
    if (!pending.tables.empty()) {
      WriteMoveJournal(ctx.fs, journal, pending);
      // The archive commits alone (the batch's one month): a failure up to
      // here moved nothing.
      if (takeFirst) {
        runs.front().archive->CommitArchive();
        archiveCommitted = true;
      }
    }
    if (archiveCommitted) {
      transaction.Keep();  // the live side commits below, under the journal
    } else {
      transaction.Commit();
    }
  } catch (const Error& e) {
    for (const BatchRun& b : runs) {
      if (b.result->status == 0) *b.result = Refused(e);
    }
    return;
  }
  // The runs are in the archive; a failure to delete their live copies stops
  // the run with the journal kept, and the next launch completes the move.
  if (archiveCommitted) {
    // The live deletions made before the copies commit now.
    FinishJournaled(ctx, journal, [] {});
  } else if (!pending.tables.empty()) {
    CompleteMove(ctx, *runs.front().archive, pending, journal);
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
  dbengine::TransactionGuard transaction(ctx.live);
  deletions();
  transaction.Commit();
  ctx.fs.RemoveFile(journal);
}

std::string PartialArchivePath(const std::string& archivePath) { return archivePath + ".partial"; }

// The move journal names one archive, so where the archive commits first a
// commit takes one month.
size_t MonthsSharingCommits(const TransferContext& ctx, std::span<const size_t> records) {
  if (records.empty()) return 0;
  if (ctx.live.ArchiveCommitOrder() != dbengine::CommitOrder::kTogether) return 1;
  const size_t most = std::max<size_t>(1, ctx.live.ArchivesPerCommit());
  size_t taken = 1;
  size_t total = records[0];
  while (taken < records.size() && taken < most && total + records[taken] <= ctx.recordsPerCommit) {
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
      const std::unique_ptr<dbengine::ArchiveLink> archive =
          ctx.live.LinkArchive(move->archivePath);
      if (move->restore) {
        CompleteRestore(ctx, *archive, *move, journal);
      } else {
        // The archive's commit is atomic: either every run is there or none,
        // and copies it does not hold delete nothing.
        CompleteMove(ctx, *archive, *move, journal);
      }
      return std::nullopt;
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
  std::vector<std::unique_ptr<dbengine::ArchiveLink>> archives;
  for (const MonthWork& month : months) {
    const std::string path = ArchivePath(ctx.dataFolder, month.monthKey);
    try {
      if (!ctx.fs.IsFile(path)) {
        if (auto problem = ArchivePlaceProblem(ctx.fs, ctx.dataFolder, month.monthKey)) {
          throw *problem;
        }
        CreateMonthArchive(ctx.engine, ctx.fs, ctx.messages, path, ctx.livestockEnabled);
      }
      archives.push_back(ctx.live.LinkArchive(path));
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
      runs.push_back({&months[m].runs[i], archives[m].get(), &out.months[m][i]});
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
