#include "proc/run_archive.h"

#include <cstdio>
#include <iostream>
#include <memory>

#include "odb/archive.h"

namespace sa::proc {

namespace {

constexpr CivilDate kWindowStart{2000, 1, 1};
constexpr char kLogName[] = "registro.txt";
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
        logPath_(platform::JoinPath(ctx.programFolder, kLogName)) {}

  // Processes one table; throws when the run must stop.
  void Table(const TableEntry& entry, const std::string& query) {
    std::vector<std::string> lines{query};
    const bool customers = entry.dateField[0] == '\0';
    std::unique_ptr<dbengine::Recordset> rs = live_.OpenRecordset(query);
    if (!rs->Eof()) {
      rs->MoveLast();
      const long count = rs->RecordCount();
      rs->MoveFirst();
      lines.push_back("número de registros:" + Count(count));
      try {
        if (customers) {
          Customers(*rs, count, lines);
        } else {
          Months(entry, *rs, count, lines);
        }
      } catch (...) {
        Log(lines);
        throw;
      }
    }
    rs->Close();
    Log(lines);
  }

  bool LeftRecordsLive() const { return leftLive_; }

  // Finishes a month run a crash left half done.
  void Recover() { odb::RecoverInterruptedMove(transfer_); }

 private:
  // Cuts the set into runs of one month and transfers each. The set is in
  // date order, so a month's records are consecutive and its end is found by
  // a galloping search: a few reads per month instead of one per record.
  void Months(const TableEntry& entry, dbengine::Recordset& rs, long count,
              std::vector<std::string>& lines) {
    for (long first = 0; first < count;) {
      monthKey_ = KeyAt(rs, entry.dateField, first);
      long inMonth = first;  // the last position known to be in the month
      long beyond = count;   // the first position known to be past it
      for (long step = 1; inMonth + step < beyond; step *= 2) {
        if (KeyAt(rs, entry.dateField, inMonth + step) != monthKey_) {
          beyond = inMonth + step;
          break;
        }
        inMonth += step;
      }
      while (beyond - inMonth > 1) {
        const long mid = inMonth + (beyond - inMonth) / 2;
        (KeyAt(rs, entry.dateField, mid) == monthKey_ ? inMonth : beyond) = mid;
      }
      Transfer(entry.table, rs, first, inMonth, lines);
      first = inMonth + 1;
    }
  }

  static std::string KeyAt(dbengine::Recordset& rs, const std::string& dateField, long pos) {
    rs.MoveFirst();
    rs.Move(pos);
    return MonthKeyOf(rs, dateField);
  }

  void Customers(dbengine::Recordset& rs, long count, std::vector<std::string>& lines) {
    if (monthKey_.empty()) {
      lines.push_back("lista de clientes no copiada: ningún mes archivado");
      return;
    }
    Transfer(kCustomers, rs, 0, count - 1, lines);
  }

  void Transfer(const std::string& table, dbengine::Recordset& rs, long first, long last,
                std::vector<std::string>& lines) {
    odb::TransferResult result;
    try {
      result = odb::TransferMonth(transfer_, monthKey_, table, rs, first, last);
    } catch (const Error&) {
      lines.push_back(KeptLine(last - first + 1));
      leftLive_ = true;
      throw;
    }
    if (result.status != 0) {
      lines.push_back(KeptLine(last - first + 1));
      leftLive_ = true;
      if (result.failure) Report(*result.failure);
    }
  }

  std::string KeptLine(long count) const {
    return "registros no archivados (" + monthKey_ + "):" + Count(count);
  }

  void Log(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    ctx_.fs.AppendFile(logPath_, text);
  }

 public:
  // A failure that left records live or stopped the run, for whoever reads
  // standard error; the run shows no message box.
  static void Report(const Error& e) {
    std::cerr << "sales-archiver: " << e.Description() << '\n';
    if (!e.Cause().empty()) std::cerr << e.Cause() << '\n';
  }

 private:
  const RunContext& ctx_;
  dbengine::Database& live_;
  odb::TransferContext transfer_;
  std::string logPath_;
  std::string monthKey_;  // kept across tables: the customer list goes to the last one
  bool leftLive_ = false;
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
    run.Recover();
    for (const TableEntry& entry : tables) {
      run.Table(entry, RunQuery(entry, kWindowStart, to));
      ctx.form.procbar.Value = static_cast<float>(entry.index);
      ctx.form.procbar.Refresh();
    }
  } catch (const Error& e) {
    Run::Report(e);
    live->Close();
    return 1;
  }
  live->Close();
  return run.LeftRecordsLive() ? 1 : 0;
}

}  // namespace sa::proc
