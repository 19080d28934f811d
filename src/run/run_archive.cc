#include "run/run_archive.h"

#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <utility>

#include "archive/archive.h"
#include "dbengine/engine_choice.h"
#include "platform/log_text.h"
#include "run/bar_pacer.h"
#include "run/log_lines.h"
#include "run/table_reader.h"
#include "run/table_work.h"

namespace sa::run {

namespace {

// Sets the bar to its maximum when the run ends, whichever way it ends.
class FinishBar {
 public:
  explicit FinishBar(progress::ProgressWindow& form) : form_(form) {}
  ~FinishBar() { form_.Fill(); }
  FinishBar(const FinishBar&) = delete;
  FinishBar& operator=(const FinishBar&) = delete;

 private:
  progress::ProgressWindow& form_;
};

// Runs `body`; any failure it throws comes back as the program's error.
std::optional<Error> FailureOf(const std::function<void()>& body) {
  try {
    body();
  } catch (const Error& e) {
    return e;
  } catch (const std::bad_alloc&) {
    return Error(ErrorCode::kOutOfMemory, "Out of memory");
  } catch (const std::exception& e) {
    return Error(ErrorCode::kInternal, "Internal error", e.what());
  }
  return std::nullopt;
}

// The run goes month by month rather than table by table: every table's
// records of a month move into that month's archive through one link
// and as few commits as keep each short, each table's run still whole or not
// at all. The tables are read first, in their order, into month runs; when
// nothing stops the run, the log and the bar show the same lines and steps
// as a walk table by table would.
class Run {
  // The runs of one month, table by table in the table order.
  using Members = std::vector<std::pair<const TableWork*, MonthRunState*>>;
  using MonthList = std::vector<std::pair<const std::string, Members>>;

 public:
  Run(const RunContext& ctx, dbengine::Database& live)
      : ctx_(ctx),
        live_(live),
        transfer_{ctx.engine,
                  live,
                  ctx.fs,
                  ctx.messages,
                  ctx.params.dataFolder,
                  ctx.settings.livestockEnabled},
        log_(ctx.fs, ctx.programFolder),
        pacer_(ctx.form, works_) {}

  // Finishes a month's move a crash left half done. False when it cannot:
  // then no other move may run (the journal would be overwritten), and the
  // log and standard error say why and what stays live.
  bool Recover() {
    const std::optional<archive::UnfinishedMove> unfinished =
        archive::RecoverInterruptedMove(transfer_);
    if (!unfinished) return true;
    const archive::UnfinishedMove& u = *unfinished;
    log_.Append("movimiento pendiente no completado (" + u.journal + "): " + u.archive + ": " +
                u.error.Description() + "\n" +
                "sus registros siguen en la base de datos viva hasta que se repare o se retire " +
                u.archive + "\n");
    pending_ = Error(u.error.Number(),
                     "An interrupted move cannot be completed; its records stay live until its "
                     "archive is repaired or removed.",
                     "move journal " + u.journal + "\narchive " + u.archive + "\n" +
                         u.error.Description() +
                         (u.error.Cause().empty() ? std::string() : "\n" + u.error.Cause()));
    return false;
  }

  // Reads the tables in order into month runs. A table that cannot be read
  // stops the run there: the tables before it still move, and those after it
  // are read only to be counted. With `move` false (a move a crash left
  // unfinished holds the run back) every table is only counted.
  // With `predict`, every record of a run expected to move is read to see
  // whether the archive would take it (the dry run).
  void Collect(const std::vector<TableEntry>& tables, const CivilDate& to, bool move,
               bool predict = false) {
    to_ = to;
    TableReader reader(live_, ctx_.settings.livestockEnabled,
                       dbengine::ShownName(ctx_.params.dbPath), predict);
    works_.reserve(tables.size());
    for (const TableEntry& entry : tables) {
      TableWork& work = works_.emplace_back();
      work.entry = &entry;
      work.query = RunQuery(entry, kWindowStart, to);
      work.reached = move && halts_.empty();
      try {
        reader.Read(work);
      } catch (const Error& e) {
        work.runs.clear();
        work.whole = false;
        if (work.reached) {
          work.reached = false;
          halts_.push_back({entry.table, "", e});
        } else {
          work.unread = e;
        }
      }
      for (MonthRunState& run : work.runs) {
        if (!work.reached && !halts_.empty()) run.halt = &halts_.front();
      }
    }
  }

  // Moves each month's runs, months in order. A month that cannot be
  // archived stops the run there: every earlier month is archived whole and
  // no later one is touched.
  void MoveMonths() {
    std::map<std::string, Members> byMonth;
    long refused = 0;
    for (TableWork& work : works_) {
      if (work.refused && work.reached) {
        Report(*work.refused);
        if (!work.customers()) refused += work.records;  // nothing of it will move
      }
      if (work.customers() || !work.Moves()) continue;
      for (MonthRunState& run : work.runs) byMonth[run.month].emplace_back(&work, &run);
    }
    const MonthList months(byMonth.begin(), byMonth.end());
    std::vector<size_t> records;
    for (const auto& [month, members] : months) {
      size_t n = 0;
      for (const auto& member : members) n += static_cast<size_t>(member.second->keys.size());
      records.push_back(n);
    }
    pacer_.Processed(refused);
    for (size_t next = 0; next < months.size();) {
      archive::MonthsTransfer out;
      try {
        // Bookmarks are expanded only for the months of the next commits,
        // so a long history is never held expanded at once.
        std::vector<archive::MonthWork> work;
        const size_t taken =
            archive::MonthsSharingCommits(transfer_, std::span(records).subspan(next));
        for (size_t m = next; m < next + taken; ++m) {
          const auto& [month, members] = months[m];
          archive::MonthWork& w = work.emplace_back(archive::MonthWork{month, {}});
          for (const auto& [table, run] : members) {
            w.runs.push_back({table->entry->table, run->keys.Expand(),
                              RunCondition(*table->entry, month, kWindowStart, to_)});
          }
        }
        out = archive::TransferMonths(transfer_, work);
      } catch (const Error& e) {
        HaltAt(months, next, e);
        return;
      }
      for (const std::vector<archive::TransferResult>& results : out.months) {
        const auto& members = months[next++].second;
        long processed = 0;
        for (size_t i = 0; i < results.size(); ++i) {
          members[i].second->moved = results[i].status == 0;
          if (results[i].failure) {
            members[i].second->why = results[i].failure;
            Report(*results[i].failure);
          }
          processed += static_cast<long>(members[i].second->keys.size());
        }
        pacer_.Processed(processed);
      }
      if (out.stop) {
        HaltAt(months, next, *out.stop);
        return;
      }
    }
  }

  // Copies the customer list into the newest month the tables before it
  // reached, unless the run stopped at or before that month.
  void CopyCustomers() {
    for (TableWork& work : works_) {
      if (!work.customers() || !work.reached) continue;
      if (!work.runs.empty() && !work.refused) {
        MonthRunState& run = work.runs.front();
        for (const Halt& h : halts_) {
          if (!h.month.empty() && h.month <= run.month && !run.halt) run.halt = &h;
        }
        if (run.halt) return;
        const archive::MonthRun customers{kCustomers, run.keys.Expand(), ""};
        try {
          const std::vector<archive::TransferResult> results =
              archive::TransferMonth(transfer_, run.month, {&customers, 1});
          run.moved = results[0].status == 0;
          if (results[0].failure) {
            run.why = results[0].failure;
            Report(*results[0].failure);
          }
        } catch (const Error& e) {
          run.why = e;
          halts_.push_back({work.entry->table, run.month, e});
          return;
        }
      }
      pacer_.Processed(work.records);
    }
  }

  // Logs each table read, in the table order.
  void WriteLog() {
    for (const TableWork& work : works_) log_.Append(TableLogLines(work, halts_));
  }

  // Whether the run stopped before its end; each stop is said on standard
  // error.
  bool ReportStops() const {
    if (pending_) Report(*pending_);
    for (const Halt& h : halts_) Report(h.error);
    return pending_ || !halts_.empty();
  }

  // What Collect read: each table's records per month.
  RunPlan Plan() const {
    RunPlan plan;
    plan.to = to_;
    if (!halts_.empty()) {
      plan.stop = halts_.front().error;
      plan.stopTable = halts_.front().table;
    }
    for (const TableWork& work : works_) {
      PlannedTable& table = plan.tables.emplace_back();
      table.table = work.entry->table;
      table.query = work.query;
      table.records = work.records;
      table.undated = work.undated;
      table.customers = work.customers();
      table.unread = work.unread;
      for (const MonthRunState& run : work.runs) {
        table.months.push_back(
            {run.month, run.count, run.why, run.halt ? run.halt->table : std::string()});
      }
    }
    return plan;
  }

  bool LeftRecordsLive() const {
    for (const TableWork& work : works_) {
      for (const MonthRunState& run : work.runs) {
        if (!run.moved) return true;
      }
    }
    return false;
  }

  // A failure that left records live or stopped the run, for whoever reads
  // standard error; the run shows no message box.
  void Report(const Error& e) const {
    ctx_.standardError.Message("sales-archiver: " + e.Description(), e.Cause());
  }

 private:
  // The month `months[next]` could not be archived: it and every later month
  // stay live, and the stop is logged at the first table holding records of it.
  void HaltAt(const MonthList& months, size_t next, const Error& e) {
    const auto& [month, members] = months[next];
    const Halt& halt = halts_.emplace_back(Halt{members.front().first->entry->table, month, e});
    for (size_t m = next; m < months.size(); ++m) {
      for (const auto& [table, run] : months[m].second) {
        if (m == next) {
          run->why = e;
        } else {
          run->halt = &halt;
        }
      }
    }
  }

  const RunContext& ctx_;
  dbengine::Database& live_;
  archive::TransferContext transfer_;
  platform::RunLog log_;
  std::vector<TableWork> works_;
  CivilDate to_{};                // the window's last day
  std::optional<Error> pending_;  // a move a crash left that cannot be completed
  std::deque<Halt> halts_;        // where the run stopped, first stop first
  BarPacer pacer_;
};

}  // namespace

RunPlan PlanArchive(const RunContext& ctx, bool upToToday) {
  const CivilDate to = WindowEnd(ctx.clock.Today(), upToToday, ctx.settings.retentionDays);
  const std::vector<TableEntry> tables = TableList(ctx.settings.livestockEnabled);
  std::unique_ptr<dbengine::Database> live = ctx.engine.OpenDatabase(ctx.params.dbPath);
  Run run(ctx, *live);
  run.Collect(tables, to, true, true);
  RunPlan plan = run.Plan();
  live->Close();
  return plan;
}

int RunArchive(const RunContext& ctx, bool upToToday) {
  const CivilDate to = WindowEnd(ctx.clock.Today(), upToToday, ctx.settings.retentionDays);
  const std::vector<TableEntry> tables = TableList(ctx.settings.livestockEnabled);

  ctx.form.Show(0, static_cast<float>(tables.back().index));
  FinishBar finish(ctx.form);

  std::unique_ptr<dbengine::Database> live = ctx.engine.OpenDatabase(ctx.params.dbPath);
  Run run(ctx, *live);
  const std::optional<Error> failure = FailureOf([&] {
    const bool move = run.Recover();
    run.Collect(tables, to, move);
    if (move) {
      run.MoveMonths();
      run.CopyCustomers();
    }
    run.WriteLog();
  });
  live->Close();
  if (failure) {
    run.Report(*failure);
    return 1;
  }
  if (run.ReportStops()) return 1;
  return run.LeftRecordsLive() ? 1 : 0;
}

}  // namespace sa::run
