#include "proc/run_archive.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <utility>

#include "odb/archive.h"
#include "platform/log_text.h"
#include "platform/standard_error.h"

namespace sa::proc {

namespace {

constexpr CivilDate kWindowStart{2000, 1, 1};
constexpr char kCustomers[] = "cliente";

std::string IsoDate(const CivilDate& d) { return DateTime::FromDate(d).ToIso().substr(0, 10); }

// "000042": at least six digits, zero-padded.
std::string Count(long n) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%06ld", n);
  return buf;
}

// The yyyymm key of the date field of the current record.
std::string MonthKeyOf(dbengine::Recordset& rs, const std::string& dateField) {
  const dbengine::Value v = rs.GetValue(dateField);
  if (const auto* dt = std::get_if<DateTime>(&v)) return dt->MonthKey();
  if (const auto* s = std::get_if<std::string>(&v)) {
    if (auto parsed = DateTime::ParseIso(*s)) return parsed->MonthKey();
  }
  throw Error(dbengine::kErrDataConversion, "Data type conversion error.",
              "field " + dateField + ": \"" + dbengine::ValueToText(v) + "\" is not a date");
}

// The bounds the records of a table's run of `month` (yyyymm) must still be
// within when they move: the month's, cut to the window [from, to].
std::string RunCondition(const TableEntry& entry, const std::string& month, const CivilDate& from,
                         const CivilDate& to) {
  const CivilDate first{std::stoi(month.substr(0, 4)), std::stoi(month.substr(4, 2)), 1};
  const CivilDate next = first.month == 12 ? CivilDate{first.year + 1, 1, 1}
                                           : CivilDate{first.year, first.month + 1, 1};
  const std::string f = entry.dateField;
  const std::string lower = f + " >= #" + IsoDate(std::max(from, first)) + "#";
  if (to < next) return lower + " AND " + f + " <= #" + IsoDate(to) + "#";
  return lower + " AND " + f + " < #" + IsoDate(next) + "#";
}

// Sets the bar to its maximum when the run ends, whichever way it ends.
class FinishBar {
 public:
  explicit FinishBar(frmproc::FrmProc& form) : form_(form) {}
  ~FinishBar() {
    form_.procbar.Value = form_.procbar.Max;
    form_.procbar.Refresh();
  }
  FinishBar(const FinishBar&) = delete;
  FinishBar& operator=(const FinishBar&) = delete;

 private:
  frmproc::FrmProc& form_;
};

// Bookmarks kept as stretches of consecutive values. A table filled in date
// order gives a few stretches per month, so holding every table's runs until
// their month comes costs next to nothing.
class Bookmarks {
 public:
  void Add(int64_t key) {
    if (!stretches_.empty() && key == stretches_.back().first + stretches_.back().count) {
      ++stretches_.back().count;
    } else {
      stretches_.push_back({key, 1});
    }
    ++size_;
  }
  long size() const { return size_; }
  std::vector<int64_t> Expand() const {
    std::vector<int64_t> keys;
    keys.reserve(static_cast<size_t>(size_));
    for (const Stretch& s : stretches_) {
      for (int64_t i = 0; i < s.count; ++i) keys.push_back(s.first + i);
    }
    return keys;
  }

 private:
  struct Stretch {
    int64_t first;
    int64_t count;
  };
  std::vector<Stretch> stretches_;
  long size_ = 0;
};

// A table's records of one month and whether they reached their archive.
struct MonthRunState {
  std::string month;
  Bookmarks keys;
  bool moved = false;
};

// One table's part of the run: its log lines so far and its month runs (the
// customer list: one run, to the newest month reached before it).
struct TableWork {
  const TableEntry* entry = nullptr;
  std::vector<std::string> lines;
  std::vector<MonthRunState> runs;
  long records = 0;
  bool whole = false;  // every record of the window was read into runs
  bool customers() const { return entry->dateField[0] == '\0'; }
};

// The run goes month by month rather than table by table: every table's
// records of a month move into that month's archive under one attachment
// and as few commits as keep each short, each table's run still whole or not
// at all. The tables are read first, in their order, into month runs; when
// nothing stops the run, the log and the bar show the same lines and steps
// as a walk table by table would.
class Run {
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
        log_(ctx.fs, ctx.programFolder) {}

  // Finishes a month's move a crash left half done. False when it cannot:
  // then no other move may run (the journal would be overwritten), and the
  // log and standard error say why and what stays live.
  bool Recover() {
    const std::optional<odb::UnfinishedMove> unfinished = odb::RecoverInterruptedMove(transfer_);
    if (!unfinished) return true;
    const odb::UnfinishedMove& u = *unfinished;
    log_.Append("movimiento pendiente no completado (" + u.journal + "): " + u.archive + ": " +
                u.error.Description() + "\n" +
                "sus registros siguen en la base de datos viva hasta que se repare o se retire " +
                u.archive + "\n");
    stop_ = Error(u.error.Number(),
                  "An interrupted move cannot be completed; its records stay live until its "
                  "archive is repaired or removed.",
                  "move journal " + u.journal + "\narchive " + u.archive + "\n" +
                      u.error.Description() +
                      (u.error.Cause().empty() ? std::string() : "\n" + u.error.Cause()));
    return false;
  }

  // Reads the tables in order into month runs. A table that cannot be read
  // stops the reading there; the tables before it still move.
  void Collect(const std::vector<TableEntry>& tables, const CivilDate& to) {
    to_ = to;
    works_.reserve(tables.size());
    for (const TableEntry& entry : tables) {
      TableWork& work = works_.emplace_back();
      work.entry = &entry;
      work.lines.push_back(RunQuery(entry, kWindowStart, to));
      try {
        if (!CollectTable(work)) {
          works_.pop_back();  // its record set never opened: no log lines
          return;
        }
      } catch (const Error& e) {
        stop_ = e;
        return;
      }
    }
  }

  // Moves each month's runs, months in order. A month that cannot be
  // archived stops the run there: every earlier month is archived whole and
  // no later one is touched.
  void MoveMonths() {
    std::map<std::string, std::vector<std::pair<const TableWork*, MonthRunState*>>> byMonth;
    for (TableWork& work : works_) {
      if (work.customers()) continue;
      for (MonthRunState& run : work.runs) byMonth[run.month].emplace_back(&work, &run);
    }
    const std::vector months(byMonth.begin(), byMonth.end());
    std::vector<size_t> records;
    for (const auto& [month, members] : months) {
      size_t n = 0;
      for (const auto& member : members) n += static_cast<size_t>(member.second->keys.size());
      records.push_back(n);
    }
    Advance();
    for (size_t next = 0; next < months.size();) {
      odb::MonthsTransfer out;
      try {
        // Bookmarks are expanded only for the months of the next commits,
        // so a long history is never held expanded at once.
        std::vector<odb::MonthWork> work;
        const size_t taken = odb::MonthsSharingCommits(transfer_, std::span(records).subspan(next));
        for (size_t m = next; m < next + taken; ++m) {
          const auto& [month, members] = months[m];
          odb::MonthWork& w = work.emplace_back(odb::MonthWork{month, {}});
          for (const auto& [table, run] : members) {
            w.runs.push_back({table->entry->table, run->keys.Expand(),
                              RunCondition(*table->entry, month, kWindowStart, to_)});
          }
        }
        out = odb::TransferMonths(transfer_, work);
      } catch (const Error& e) {
        stop_ = e;
        stoppedAt_ = months[next].first;
        return;
      }
      for (const std::vector<odb::TransferResult>& results : out.months) {
        const auto& members = months[next++].second;
        for (size_t i = 0; i < results.size(); ++i) {
          members[i].second->moved = results[i].status == 0;
          if (results[i].failure) Report(*results[i].failure);
          processed_ += members[i].second->keys.size();
        }
        Advance();
      }
      if (out.stop) {
        stop_ = out.stop;
        stoppedAt_ = months[next].first;
        return;
      }
    }
  }

  // Copies the customer list into the newest month the tables before it
  // reached, unless the run stopped at or before that month.
  void CopyCustomers() {
    for (TableWork& work : works_) {
      if (!work.customers()) continue;
      if (!work.runs.empty()) {
        MonthRunState& run = work.runs.front();
        if (!stoppedAt_.empty() && stoppedAt_ <= run.month) return;
        const odb::MonthRun customers{kCustomers, run.keys.Expand(), ""};
        try {
          const std::vector<odb::TransferResult> results =
              odb::TransferMonth(transfer_, run.month, {&customers, 1});
          run.moved = results[0].status == 0;
          if (results[0].failure) Report(*results[0].failure);
        } catch (const Error& e) {
          stop_ = e;
          return;
        }
      }
      processed_ += work.records;
      Advance();
    }
  }

  // Logs each table read: its query, its count, and a line for each month
  // run that stayed live.
  void WriteLog() {
    for (const TableWork& work : works_) {
      std::string text;
      for (const std::string& line : work.lines) text += line + "\r\n";
      for (const MonthRunState& run : work.runs) {
        if (run.moved) continue;
        // Customer records are never deleted: a list not copied stays whole
        // in the live database, which is not the same as records left live.
        text += (work.customers() ? "lista de clientes no copiada (" + run.month + ")"
                                  : KeptLine(run.month, run.keys.size())) +
                "\r\n";
      }
      log_.Append(text);
    }
  }

  // Why the run stopped, if it did.
  const std::optional<Error>& Stop() const { return stop_; }

  // What Collect read: each table's records per month.
  RunPlan Plan() const {
    RunPlan plan;
    plan.to = to_;
    plan.stop = stop_;
    for (const TableWork& work : works_) {
      PlannedTable& table = plan.tables.emplace_back();
      table.table = work.entry->table;
      table.query = work.lines.front();
      table.records = work.records;
      table.customers = work.customers();
      for (const MonthRunState& run : work.runs)
        table.months.push_back({run.month, run.keys.size()});
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
  static void Report(const Error& e) {
    platform::RealStandardError().Message("sales-archiver: " + e.Description(), e.Cause());
  }

 private:
  // Reads one table's window. Returns false when its record set cannot be
  // opened (then `stop_` says why); throws when reading it fails part way.
  bool CollectTable(TableWork& work) {
    std::unique_ptr<dbengine::Recordset> rs;
    try {
      rs = live_.OpenRecordset(work.lines.front());
    } catch (const Error& e) {
      stop_ = e;
      return false;
    }
    if (!rs->Eof()) {
      rs->MoveLast();
      work.records = rs->RecordCount();
      rs->MoveFirst();
      work.lines.push_back("número de registros:" + Count(work.records));
      if (work.customers()) {
        Customers(work, *rs);
      } else {
        Months(work, *rs);
      }
    }
    rs->Close();
    work.whole = true;
    return true;
  }

  // Cuts the set into runs of one month. The set is in date order, so a
  // month's records are consecutive and its end is found by a galloping
  // search: a few reads per month instead of one per record.
  void Months(TableWork& work, dbengine::Recordset& rs) {
    const std::string dateField = work.entry->dateField;
    const long count = work.records;
    for (long first = 0; first < count;) {
      const std::string month = KeyAt(rs, dateField, first);
      long inMonth = first;  // the last position known to be in the month
      long beyond = count;   // the first position known to be past it
      for (long step = 1; inMonth + step < beyond; step *= 2) {
        if (KeyAt(rs, dateField, inMonth + step) != month) {
          beyond = inMonth + step;
          break;
        }
        inMonth += step;
      }
      while (beyond - inMonth > 1) {
        const long mid = inMonth + (beyond - inMonth) / 2;
        (KeyAt(rs, dateField, mid) == month ? inMonth : beyond) = mid;
      }
      MonthRunState& run = work.runs.emplace_back();
      run.month = month;
      ReadKeys(rs, first, inMonth, run.keys);
      newestMonth_ = month;
      first = inMonth + 1;
    }
  }

  void Customers(TableWork& work, dbengine::Recordset& rs) {
    if (newestMonth_.empty()) {
      work.lines.push_back("lista de clientes no copiada: ningún mes archivado");
      return;
    }
    MonthRunState& run = work.runs.emplace_back();
    run.month = newestMonth_;
    ReadKeys(rs, 0, work.records - 1, run.keys);
  }

  static std::string KeyAt(dbengine::Recordset& rs, const std::string& dateField, long pos) {
    rs.MoveFirst();
    rs.Move(pos);
    return MonthKeyOf(rs, dateField);
  }

  static void ReadKeys(dbengine::Recordset& rs, long first, long last, Bookmarks& keys) {
    rs.MoveFirst();
    rs.Move(first);
    for (long pos = first; pos <= last; ++pos) {
      keys.Add(rs.Bookmark());
      rs.MoveNext();
    }
  }

  static std::string KeptLine(const std::string& month, long count) {
    return "registros no archivados (" + month + "):" + Count(count);
  }

  // Moves the bar to each table's position once as many records have been
  // processed as that table and the tables before it hold: the steps of the
  // table order, paced by the work of the months. A table not read whole
  // shows no step, nor any table after it.
  void Advance() {
    while (shown_ < works_.size() && works_[shown_].whole) {
      reached_ += works_[shown_].records;
      if (reached_ > processed_) {
        reached_ -= works_[shown_].records;
        return;
      }
      ctx_.form.procbar.Value = static_cast<float>(works_[shown_].entry->index);
      ctx_.form.procbar.Refresh();
      ++shown_;
    }
  }

  const RunContext& ctx_;
  dbengine::Database& live_;
  odb::TransferContext transfer_;
  platform::RunLog log_;
  std::vector<TableWork> works_;
  CivilDate to_{};           // the window's last day
  std::string newestMonth_;  // the customer list goes to the newest month read before it
  std::optional<Error> stop_;
  std::string stoppedAt_;  // the month that could not be archived
  long processed_ = 0;     // records of the runs done so far
  long reached_ = 0;       // records of the tables whose step is shown
  size_t shown_ = 0;
};

}  // namespace

std::vector<TableEntry> TableList(bool livestockEnabled) {
  std::vector<TableEntry> list = {
      {0, "cabecera", "D_FECHA"}, {3, "gtarti", "FECHA"}, {4, "gthora", "FECHA"},
      {5, "gtInfVen", "FECHA"},   {6, "gtsecs", "FECHA"}, {7, "gtvend", "FECHA"},
      {8, "tickets", "D_FECHA"},  {10, kCustomers, ""},
  };
  if (livestockEnabled) list.push_back({11, "GTVacuno", "FECHA"});
  return list;
}

std::string RunQuery(const TableEntry& entry, const CivilDate& from, const CivilDate& to) {
  std::string sql = std::string("SELECT *") + " FROM " + entry.table;
  if (entry.dateField[0] == '\0') return sql;
  const std::string f = entry.dateField;
  const bool tight = std::string(entry.table) == "GTVacuno";
  sql += " WHERE " + f + (tight ? ">= #" : " >= #") + IsoDate(from) + "# AND " + f +
         (tight ? "<= #" : " <= #") + IsoDate(to) + "# ORDER BY " + f;
  return sql;
}

CivilDate WindowEnd(const CivilDate& today, bool upToToday, int retentionDays) {
  if (upToToday) return today;
  return CivilFromDays(DaysFromCivil(today) - retentionDays);
}

RunPlan PlanArchive(const RunContext& ctx, bool upToToday) {
  const CivilDate to = WindowEnd(ctx.clock.Today(), upToToday, ctx.settings.retentionDays);
  const std::vector<TableEntry> tables = TableList(ctx.settings.livestockEnabled);
  std::unique_ptr<dbengine::Database> live = ctx.engine.OpenDatabase(ctx.params.dbPath);
  Run run(ctx, *live);
  run.Collect(tables, to);
  RunPlan plan = run.Plan();
  live->Close();
  return plan;
}

int RunArchive(const RunContext& ctx, bool upToToday) {
  const CivilDate to = WindowEnd(ctx.clock.Today(), upToToday, ctx.settings.retentionDays);
  const std::vector<TableEntry> tables = TableList(ctx.settings.livestockEnabled);

  ctx.form.SetVisible(true);
  ctx.form.procbar.Min = 0;
  ctx.form.procbar.Max = static_cast<float>(tables.back().index);
  FinishBar finish(ctx.form);

  std::unique_ptr<dbengine::Database> live = ctx.engine.OpenDatabase(ctx.params.dbPath);
  Run run(ctx, *live);
  try {
    if (run.Recover()) {
      run.Collect(tables, to);
      run.MoveMonths();
      run.CopyCustomers();
      run.WriteLog();
    }
  } catch (const Error& e) {
    Run::Report(e);
    live->Close();
    return 1;
  } catch (const std::bad_alloc&) {
    Run::Report(Error(kErrOutOfMemory, "Out of memory"));
    live->Close();
    return 1;
  } catch (const std::exception& e) {
    Run::Report(Error(kErrInternal, "Internal error", e.what()));
    live->Close();
    return 1;
  }
  live->Close();
  if (run.Stop()) {
    Run::Report(*run.Stop());
    return 1;
  }
  return run.LeftRecordsLive() ? 1 : 0;
}

}  // namespace sa::proc
