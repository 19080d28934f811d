#include "run/run_archive.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <exception>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <utility>

#include "archive/archive.h"
#include "archive/schema.h"
#include "dbengine/engine_choice.h"
#include "dbengine/identity_stretches.h"
#include "platform/log_text.h"
#include "platform/standard_error.h"

namespace sa::run {

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
  throw Error(dbengine::EngineError::kDataConversion, "Data type conversion error.",
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
  explicit FinishBar(progress::ProgressWindow& form) : form_(form) {}
  ~FinishBar() { form_.Fill(); }
  FinishBar(const FinishBar&) = delete;
  FinishBar& operator=(const FinishBar&) = delete;

 private:
  progress::ProgressWindow& form_;
};

// Where a run stopped: at a table it could not read, or at a table's month
// whose archive could not be made or opened.
struct Halt {
  std::string table;
  std::string month;  // empty for a table
  Error error;
  std::string Place() const { return month.empty() ? table : table + ", " + month; }
};

// A table's records of one month and whether they reached their archive.
struct MonthRunState {
  std::string month;
  dbengine::IdentityStretches keys;
  long count = 0;
  bool moved = false;
  std::optional<Error> why;    // why it stayed live, when it was refused
  const Halt* halt = nullptr;  // the stop that kept the run from reaching it
};

// One table's part of the run: its query, what it read and its month runs
// (the customer list: one run, to the newest month reached before it).
struct TableWork {
  const TableEntry* entry = nullptr;
  std::string query;
  std::vector<MonthRunState> runs;
  long records = 0;
  long undated = 0;              // records no window places
  bool whole = false;            // every record of the window was read into runs
  bool reached = true;           // the run went on to move it
  std::optional<Error> refused;  // a table the run cannot move at all
  std::optional<Error> unread;   // cannot be read, after the run had stopped
  bool customers() const { return entry->dateField[0] == '\0'; }
  bool Moves() const { return reached && whole && !refused; }
};

// Whether a record's values fit the fields of its archive table, as the move
// converts them: the dry run reads every record of a run it expects to move.
class ArchiveFit {
 public:
  ArchiveFit(const archive::TableSpec& layout, const dbengine::Recordset& rs,
             const std::string& table, const std::string& liveName) {
    for (const archive::FieldSpec& field : layout.fields) {
      try {
        fields_.push_back({rs.FieldIndex(field.name), &field, table + "." + field.name});
      } catch (const Error&) {
        missing_ = Error(
            dbengine::EngineError::kItemNotFound, "Item not found in this collection.",
            "field " + std::string(field.name) + " of table " + table + ", missing in " + liveName);
        return;
      }
    }
  }
  // A field the live table lacks refuses every run of it.
  const std::optional<Error>& Missing() const { return missing_; }
  // Why the archive would refuse the current record, if it would.
  std::optional<Error> Refusal(dbengine::Recordset& rs) const {
    for (const Field& f : fields_) {
      try {
        dbengine::ConvertForField(rs.GetValue(f.index), f.layout->type, f.layout->size, f.name);
      } catch (const Error& e) {
        return e;
      }
    }
    return std::nullopt;
  }

 private:
  struct Field {
    int index;
    const archive::FieldSpec* layout;
    std::string name;
  };
  std::vector<Field> fields_;
  std::optional<Error> missing_;
};

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
        log_(ctx.fs, ctx.programFolder) {}

  // Reads every record of the runs expected to move, to see whether the
  // archive would take them (the dry run).
  void Predict() { predict_ = true; }

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
  void Collect(const std::vector<TableEntry>& tables, const CivilDate& to, bool move) {
    to_ = to;
    works_.reserve(tables.size());
    for (const TableEntry& entry : tables) {
      TableWork& work = works_.emplace_back();
      work.entry = &entry;
      work.query = RunQuery(entry, kWindowStart, to);
      work.reached = move && halts_.empty();
      try {
        CollectTable(work);
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
    for (TableWork& work : works_) {
      if (work.refused && work.reached) {
        Report(*work.refused);
        if (!work.customers()) processed_ += work.records;  // nothing of it will move
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
    Advance();
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
        for (size_t i = 0; i < results.size(); ++i) {
          members[i].second->moved = results[i].status == 0;
          if (results[i].failure) {
            members[i].second->why = results[i].failure;
            Report(*results[i].failure);
          }
          processed_ += members[i].second->keys.size();
        }
        Advance();
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
      processed_ += work.records;
      Advance();
    }
  }

  // Logs each table read: its query, its count, the records whose date no
  // window places, and a line for each month run that stayed live with the
  // reason under it; the stop, if any, where it came.
  void WriteLog() {
    for (const TableWork& work : works_) {
      std::string text = work.query + "\r\n";
      if (work.records > 0) text += "número de registros:" + Count(work.records) + "\r\n";
      if (work.undated > 0) text += "registros con fecha ilegible:" + Count(work.undated) + "\r\n";
      if (work.unread) text += "motivo: " + OneLine(*work.unread) + "\r\n";
      text += HaltLines(work, "");
      if (work.customers()) {
        text += CustomerLines(work);
      } else {
        for (const MonthRunState& run : work.runs) {
          if (run.moved) continue;
          text += KeptLine(run.month, run.count) + "\r\n" + Motive(run) + "\r\n";
          text += HaltLines(work, run.month);
        }
      }
      log_.Append(text);
    }
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
  static void Report(const Error& e) {
    platform::RealStandardError().Message("sales-archiver: " + e.Description(), e.Cause());
  }

 private:
  // Reads one table's window; throws when it cannot be read.
  void CollectTable(TableWork& work) {
    std::unique_ptr<dbengine::Recordset> rs = live_.OpenRecordset(work.query);
    if (!rs->Eof()) {
      rs->MoveLast();
      work.records = rs->RecordCount();
      rs->MoveFirst();
      if (work.customers()) {
        Customers(work, *rs);
      } else {
        Months(work, *rs);
      }
    }
    rs->Close();
    if (!work.customers()) {
      work.undated = live_.CountUndated(work.entry->table, work.entry->dateField);
    }
    work.whole = true;
  }

  // Whether the run can name the set's records to move them. A table that
  // cannot is refused alone, before any month moves: its runs stay live.
  bool CanName(TableWork& work, dbengine::Recordset& rs) {
    if (!work.reached) return false;
    try {
      rs.MoveFirst();
      rs.Bookmark();
      return true;
    } catch (const Error& e) {
      if (e.Number() != dbengine::EngineError::kNoIdentity) throw;
      work.refused = e;
      return false;
    }
  }

  // The fit of the set's records to their archive table, when predicting.
  std::optional<ArchiveFit> Fit(const TableWork& work, const dbengine::Recordset& rs) const {
    if (!predict_) return std::nullopt;
    for (const archive::TableSpec* layout :
         archive::ArchiveTables(ctx_.settings.livestockEnabled)) {
      if (dbengine::SameName(layout->name, work.entry->table)) {
        return ArchiveFit(*layout, rs, work.entry->table, dbengine::ShownName(ctx_.params.dbPath));
      }
    }
    return std::nullopt;
  }

  // Cuts the set into runs of one month. The set is in date order, so a
  // month's records are consecutive and its end is found by a galloping
  // search: a few reads per month instead of one per record.
  void Months(TableWork& work, dbengine::Recordset& rs) {
    const std::string dateField = work.entry->dateField;
    const bool named = CanName(work, rs);
    const std::optional<ArchiveFit> fit = named ? Fit(work, rs) : std::nullopt;
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
      run.count = inMonth - first + 1;
      run.why = work.refused;
      if (named) ReadRun(rs, first, inMonth, run, fit ? &*fit : nullptr);
      newestMonth_ = month;
      first = inMonth + 1;
    }
  }

  void Customers(TableWork& work, dbengine::Recordset& rs) {
    if (newestMonth_.empty()) return;  // no month reached: not copied
    MonthRunState& run = work.runs.emplace_back();
    run.month = newestMonth_;
    run.count = work.records;
    if (CanName(work, rs)) {
      const std::optional<ArchiveFit> fit = Fit(work, rs);
      ReadRun(rs, 0, work.records - 1, run, fit ? &*fit : nullptr);
    }
    run.why = run.why ? run.why : work.refused;
  }

  static std::string KeyAt(dbengine::Recordset& rs, const std::string& dateField, long pos) {
    rs.MoveFirst();
    rs.Move(pos);
    return MonthKeyOf(rs, dateField);
  }

  // Reads the identities of the run's records; with `fit`, also whether the
  // archive would take each of them.
  static void ReadRun(dbengine::Recordset& rs, long first, long last, MonthRunState& run,
                      const ArchiveFit* fit) {
    if (fit && fit->Missing()) {
      run.why = fit->Missing();
      fit = nullptr;
    }
    rs.MoveFirst();
    rs.Move(first);
    for (long pos = first; pos <= last; ++pos) {
      run.keys.Add(rs.Bookmark());
      if (fit && !run.why) run.why = fit->Refusal(rs);
      rs.MoveNext();
    }
  }

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

  // The stop lines of `work` at `month` (empty: at the table itself).
  std::string HaltLines(const TableWork& work, const std::string& month) const {
    std::string text;
    for (const Halt& h : halts_) {
      if (h.table == work.entry->table && h.month == month) {
        text += "ejecución detenida (" + h.Place() + "): " + OneLine(h.error) + "\r\n";
      }
    }
    return text;
  }

  // Customer records are never deleted: a list not copied stays whole in the
  // live database, which is not the same as records left live.
  std::string CustomerLines(const TableWork& work) const {
    if (work.records == 0) return "";
    if (work.runs.empty()) {
      return work.reached ? "lista de clientes no copiada: ningún mes archivado\r\n"
                          : "lista de clientes no copiada: " + Stopped(nullptr) + "\r\n";
    }
    const MonthRunState& run = work.runs.front();
    if (run.moved) return "";
    if (!run.why) return "lista de clientes no copiada: " + Stopped(run.halt) + "\r\n";
    return "lista de clientes no copiada (" + run.month + ")\r\n" + Motive(run) + "\r\n" +
           HaltLines(work, run.month);
  }

  std::string Motive(const MonthRunState& run) const {
    return "motivo: " + (run.why ? OneLine(*run.why) : Stopped(run.halt));
  }

  // What kept the run from reaching a table or month.
  std::string Stopped(const Halt* halt) const {
    if (halt == nullptr && !halts_.empty()) halt = &halts_.front();
    if (halt != nullptr) return "ejecución detenida (" + halt->Place() + ")";
    return "movimiento pendiente no completado";
  }

  static std::string KeptLine(const std::string& month, long count) {
    return "registros no archivados (" + month + "):" + Count(count);
  }

  // Moves the bar to each table's position once as many records have been
  // processed as that table and the tables before it hold: the steps of the
  // table order, paced by the work of the months. A table not read whole
  // shows no step, nor any table after it.
  void Advance() {
    while (shown_ < works_.size() && works_[shown_].whole && works_[shown_].reached) {
      reached_ += works_[shown_].records;
      if (reached_ > processed_) {
        reached_ -= works_[shown_].records;
        return;
      }
      ctx_.form.MoveTo(static_cast<float>(works_[shown_].entry->index));
      ++shown_;
    }
  }

  const RunContext& ctx_;
  dbengine::Database& live_;
  archive::TransferContext transfer_;
  platform::RunLog log_;
  std::vector<TableWork> works_;
  CivilDate to_{};           // the window's last day
  std::string newestMonth_;  // the customer list goes to the newest month read before it
  bool predict_ = false;
  std::optional<Error> pending_;  // a move a crash left that cannot be completed
  std::deque<Halt> halts_;        // where the run stopped, first stop first
  long processed_ = 0;            // records of the runs done so far
  long reached_ = 0;              // records of the tables whose step is shown
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

std::string OneLine(const Error& e) {
  std::string cause = e.Cause();
  for (size_t at; (at = cause.find('\n')) != std::string::npos;) cause.replace(at, 1, "; ");
  return dbengine::MaskSecrets(e.Description() + (cause.empty() ? "" : " (" + cause + ")"));
}

RunPlan PlanArchive(const RunContext& ctx, bool upToToday) {
  const CivilDate to = WindowEnd(ctx.clock.Today(), upToToday, ctx.settings.retentionDays);
  const std::vector<TableEntry> tables = TableList(ctx.settings.livestockEnabled);
  std::unique_ptr<dbengine::Database> live = ctx.engine.OpenDatabase(ctx.params.dbPath);
  Run run(ctx, *live);
  run.Predict();
  run.Collect(tables, to, true);
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
  try {
    const bool move = run.Recover();
    run.Collect(tables, to, move);
    if (move) {
      run.MoveMonths();
      run.CopyCustomers();
    }
    run.WriteLog();
  } catch (const Error& e) {
    Run::Report(e);
    live->Close();
    return 1;
  } catch (const std::bad_alloc&) {
    Run::Report(Error(ErrorCode::kOutOfMemory, "Out of memory"));
    live->Close();
    return 1;
  } catch (const std::exception& e) {
    Run::Report(Error(ErrorCode::kInternal, "Internal error", e.what()));
    live->Close();
    return 1;
  }
  live->Close();
  if (run.ReportStops()) return 1;
  return run.LeftRecordsLive() ? 1 : 0;
}

}  // namespace sa::run
